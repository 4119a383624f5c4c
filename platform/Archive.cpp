#include "Archive.h"

#include <algorithm>
#include <cstring>

#include "Unicode.h"

IMPLEMENT_DYNAMIC(CArchiveException, CException)

namespace {
constexpr size_t kBufferSize = 4096;
// Strings are read in pieces, so a length that claims more than the file holds
// never allocates more than what was actually read.
constexpr size_t kStringChunk = 64 * 1024;
}  // namespace

BOOL CArchiveException::GetErrorMessage(char* lpszError, UINT nMaxError, UINT*) {
    static const char* const texts[] = {"No error",
                                        "Generic archive error",
                                        "Archive is read-only",
                                        "Unexpected end of file",
                                        "Archive is write-only",
                                        "Bad index",
                                        "Bad class",
                                        "Bad schema"};
    const char* text = (m_cause >= 0 && m_cause <= badSchema) ? texts[m_cause] : texts[1];
    AfxCopyErrorMessage(text, lpszError, nMaxError);
    return TRUE;
}

CArchive::CArchive(CFile* pFile, UINT nMode) : m_pFile(pFile), m_nMode(nMode) {
    m_buf.reserve(kBufferSize);
    if (IsLoading()) {
        m_buf.resize(kBufferSize);
    }
}

CArchive::~CArchive() {
    if (m_pFile != nullptr && IsStoring() && !m_buf.empty()) {
        try {
            Flush();
        } catch (CException* e) {
            e->Delete();
        }
    }
}

void CArchive::Close() {
    if (m_pFile != nullptr && IsStoring()) {
        Flush();
    }
    m_pFile = nullptr;
}

void CArchive::Flush() {
    if (!IsStoring()) {
        return;
    }
    if (!m_buf.empty()) {
        CByteArray pending;
        pending.swap(m_buf);
        m_buf.reserve(kBufferSize);
        m_pFile->Write(pending.data(), static_cast<UINT>(pending.size()));
    }
}

void CArchive::Write(const void* lpBuf, UINT nMax) {
    if (!IsStoring()) {
        throw new CArchiveException(CArchiveException::readOnly);
    }
    const BYTE* p = static_cast<const BYTE*>(lpBuf);
    if (m_buf.size() + nMax > kBufferSize) {
        Flush();
        if (nMax >= kBufferSize) {
            m_pFile->Write(p, nMax);
            return;
        }
    }
    m_buf.insert(m_buf.end(), p, p + nMax);
}

void CArchive::FillBuffer() {
    m_nCur = 0;
    m_nLim = m_pFile->Read(m_buf.data(), static_cast<UINT>(m_buf.size()));
}

UINT CArchive::Read(void* lpBuf, UINT nMax) {
    if (!IsLoading()) {
        throw new CArchiveException(CArchiveException::writeOnly);
    }
    BYTE* p = static_cast<BYTE*>(lpBuf);
    UINT nDone = 0;
    while (nDone < nMax) {
        if (m_nCur == m_nLim) {
            FillBuffer();
            if (m_nLim == 0) {
                break;
            }
        }
        size_t n = std::min<size_t>(nMax - nDone, m_nLim - m_nCur);
        std::memcpy(p + nDone, m_buf.data() + m_nCur, n);
        m_nCur += n;
        nDone += static_cast<UINT>(n);
    }
    return nDone;
}

void CArchive::ReadExact(void* lpBuf, UINT nCount) {
    if (Read(lpBuf, nCount) != nCount) {
        throw new CArchiveException(CArchiveException::endOfFile);
    }
}

namespace {
template <typename T>
void PutLE(BYTE* p, T v) {
    for (size_t i = 0; i < sizeof(T); ++i) {
        p[i] = static_cast<BYTE>(v >> (8 * i));
    }
}
template <typename T>
T GetLE(const BYTE* p) {
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        v = static_cast<T>(v | (static_cast<T>(p[i]) << (8 * i)));
    }
    return v;
}
}  // namespace

CArchive& CArchive::operator<<(BYTE v) {
    Write(&v, 1);
    return *this;
}

CArchive& CArchive::operator<<(WORD v) {
    BYTE b[2];
    PutLE(b, v);
    Write(b, 2);
    return *this;
}

CArchive& CArchive::operator<<(DWORD v) {
    BYTE b[4];
    PutLE(b, v);
    Write(b, 4);
    return *this;
}

CArchive& CArchive::operator<<(ULONGLONG v) {
    BYTE b[8];
    PutLE(b, v);
    Write(b, 8);
    return *this;
}

CArchive& CArchive::operator<<(float v) {
    DWORD bits;
    std::memcpy(&bits, &v, 4);
    return *this << bits;
}

CArchive& CArchive::operator<<(double v) {
    ULONGLONG bits;
    std::memcpy(&bits, &v, 8);
    return *this << bits;
}

void CArchive::WriteStringLength(size_t nLength) {
    if (nLength < 255) {
        *this << static_cast<BYTE>(nLength);
    } else if (nLength < 0xFFFE) {
        *this << static_cast<BYTE>(0xFF) << static_cast<WORD>(nLength);
    } else {
        *this << static_cast<BYTE>(0xFF) << static_cast<WORD>(0xFFFF)
              << static_cast<DWORD>(nLength);
    }
}

CArchive& CArchive::operator<<(const CString& s) {
    WriteStringLength(s.size());
    if (!s.empty()) {
        Write(s.data(), static_cast<UINT>(s.size()));
    }
    return *this;
}

CArchive& CArchive::operator>>(BYTE& v) {
    ReadExact(&v, 1);
    return *this;
}

CArchive& CArchive::operator>>(char& v) {
    BYTE b;
    *this >> b;
    v = static_cast<char>(b);
    return *this;
}

CArchive& CArchive::operator>>(WORD& v) {
    BYTE b[2];
    ReadExact(b, 2);
    v = GetLE<WORD>(b);
    return *this;
}

CArchive& CArchive::operator>>(short& v) {
    WORD w;
    *this >> w;
    v = static_cast<short>(w);
    return *this;
}

CArchive& CArchive::operator>>(DWORD& v) {
    BYTE b[4];
    ReadExact(b, 4);
    v = GetLE<DWORD>(b);
    return *this;
}

CArchive& CArchive::operator>>(int& v) {
    DWORD d;
    *this >> d;
    v = static_cast<int>(d);
    return *this;
}

CArchive& CArchive::operator>>(ULONGLONG& v) {
    BYTE b[8];
    ReadExact(b, 8);
    v = GetLE<ULONGLONG>(b);
    return *this;
}

CArchive& CArchive::operator>>(LONGLONG& v) {
    ULONGLONG u;
    *this >> u;
    v = static_cast<LONGLONG>(u);
    return *this;
}

CArchive& CArchive::operator>>(float& v) {
    DWORD bits;
    *this >> bits;
    std::memcpy(&v, &bits, 4);
    return *this;
}

CArchive& CArchive::operator>>(double& v) {
    ULONGLONG bits;
    *this >> bits;
    std::memcpy(&v, &bits, 8);
    return *this;
}

ULONGLONG CArchive::ReadStringLength(bool& bUnicode) {
    bUnicode = false;
    BYTE bLen;
    *this >> bLen;
    if (bLen < 0xFF) {
        return bLen;
    }
    WORD wLen;
    *this >> wLen;
    if (wLen == 0xFFFE) {
        // UTF-16 marker: the real length follows in the same counted form.
        bUnicode = true;
        *this >> bLen;
        if (bLen < 0xFF) {
            return bLen;
        }
        *this >> wLen;
    }
    if (wLen < 0xFFFF) {
        return wLen;
    }
    DWORD dwLen;
    *this >> dwLen;
    return dwLen;
}

CArchive& CArchive::operator>>(CString& s) {
    bool bUnicode;
    ULONGLONG nLength = ReadStringLength(bUnicode);
    ULONGLONG nBytes = bUnicode ? nLength * 2 : nLength;
    CByteArray raw;
    while (raw.size() < nBytes) {
        size_t nPiece = static_cast<size_t>(std::min<ULONGLONG>(kStringChunk, nBytes - raw.size()));
        size_t nOld = raw.size();
        raw.resize(nOld + nPiece);
        ReadExact(raw.data() + nOld, static_cast<UINT>(nPiece));
    }
    if (bUnicode) {
        std::u16string wide(raw.size() / 2, u'\0');
        for (size_t i = 0; i < wide.size(); ++i) {
            wide[i] = static_cast<char16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
        }
        s = WideToMultiByte(wide);
    } else {
        s.assign(raw.begin(), raw.end());
    }
    return *this;
}
