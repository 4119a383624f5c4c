// Byte streams under CArchive: a file on disk (POSIX descriptor) and a file in
// memory. Failures are thrown as CFileException pointers.
#pragma once

#include "Object.h"

class CFileException : public CException {
    DECLARE_DYNAMIC(CFileException)

public:
    enum { none, genericException, fileNotFound, badPath, accessDenied, diskFull, endOfFile };

    CFileException(int cause = none, int lOsError = 0, const CString& strFileName = CString())
        : m_cause(cause), m_lOsError(lOsError), m_strFileName(strFileName) {}
    BOOL GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) override;

    int m_cause;
    int m_lOsError;
    CString m_strFileName;
};

class CFile : public CObject {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        modeCreate = 0x1000,
    };

    CFile() = default;
    ~CFile() override;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Returns FALSE and fills pError (when given) on failure.
    virtual BOOL Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
    // Reads up to nCount bytes; returns the number read, 0 at the end.
    virtual UINT Read(void* lpBuf, UINT nCount);
    // Writes all nCount bytes or throws.
    virtual void Write(const void* lpBuf, UINT nCount);
    // Pushes written data to the disk (fsync).
    virtual void Flush();
    virtual void Close();
    // Bytes from the current position to the end, when the stream knows it.
    virtual ULONGLONG GetRemaining() const;

    int m_hFile = -1;
    CString m_strFileName;
};

class CMemFile : public CFile {
public:
    CMemFile() = default;
    explicit CMemFile(const CByteArray& data) : m_data(data) {}

    BOOL Open(const char*, UINT, CFileException* = nullptr) override { return TRUE; }
    UINT Read(void* lpBuf, UINT nCount) override;
    void Write(const void* lpBuf, UINT nCount) override;
    void Flush() override {}
    void Close() override {}
    ULONGLONG GetRemaining() const override { return m_data.size() - m_nPos; }

    const CByteArray& GetData() const { return m_data; }
    size_t GetPosition() const { return m_nPos; }

private:
    CByteArray m_data;
    size_t m_nPos = 0;
};
