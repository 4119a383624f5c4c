// Binary archive over a CFile: little-endian, fixed widths, unaligned, and the
// counted-string form (one length byte; 0xFF and a 16-bit length; 0xFF, 0xFFFF
// and a 32-bit length). Reading past the end throws a CArchiveException pointer
// with cause endOfFile.
#pragma once

#include "File.h"

class CArchiveException : public CException {
    DECLARE_DYNAMIC(CArchiveException)

public:
    enum { none, genericException, readOnly, endOfFile, writeOnly, badIndex, badClass, badSchema };

    explicit CArchiveException(int cause = none) : m_cause(cause) {}
    BOOL GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) override;

    int m_cause;
};

class CArchive {
public:
    enum Mode { store = 0, load = 1 };

    CArchive(CFile* pFile, UINT nMode);
    ~CArchive();
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    BOOL IsStoring() const { return m_nMode == store; }
    BOOL IsLoading() const { return m_nMode == load; }
    CFile* GetFile() const { return m_pFile; }

    // Reads up to nMax bytes; returns how many (fewer only at the end).
    UINT Read(void* lpBuf, UINT nMax);
    void Write(const void* lpBuf, UINT nMax);
    // Writes the buffered bytes to the file (storing).
    void Flush();
    // Flushes when storing and detaches from the file; the file stays open.
    void Close();

    CArchive& operator<<(BYTE v);
    CArchive& operator<<(char v) { return *this << static_cast<BYTE>(v); }
    CArchive& operator<<(WORD v);
    CArchive& operator<<(short v) { return *this << static_cast<WORD>(v); }
    CArchive& operator<<(DWORD v);
    CArchive& operator<<(int v) { return *this << static_cast<DWORD>(v); }
    CArchive& operator<<(ULONGLONG v);
    CArchive& operator<<(LONGLONG v) { return *this << static_cast<ULONGLONG>(v); }
    CArchive& operator<<(float v);
    CArchive& operator<<(double v);
    CArchive& operator<<(const CString& s);

    CArchive& operator>>(BYTE& v);
    CArchive& operator>>(char& v);
    CArchive& operator>>(WORD& v);
    CArchive& operator>>(short& v);
    CArchive& operator>>(DWORD& v);
    CArchive& operator>>(int& v);
    CArchive& operator>>(ULONGLONG& v);
    CArchive& operator>>(LONGLONG& v);
    CArchive& operator>>(float& v);
    CArchive& operator>>(double& v);
    CArchive& operator>>(CString& s);

    // The counted-string length prefix alone.
    void WriteStringLength(size_t nLength);
    // Reads a length prefix; sets bUnicode when the UTF-16 marker precedes it.
    ULONGLONG ReadStringLength(bool& bUnicode);

private:
    void ReadExact(void* lpBuf, UINT nCount);
    void FillBuffer();

    CFile* m_pFile;
    UINT m_nMode;
    CByteArray m_buf;
    size_t m_nCur = 0;  // loading: next unread byte in m_buf
    size_t m_nLim = 0;  // loading: bytes valid in m_buf
};
