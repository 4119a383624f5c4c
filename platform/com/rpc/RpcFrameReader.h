// Reads the fields of one frame body. Every read is checked against what is
// left; the first failure sticks, so a caller may read a whole message and
// test IsOk() once. Sizes taken from the data are checked against what is
// left before anything is allocated for them.
#pragma once

#include <vector>

#include "platform/com/OleAuto.h"

class CRpcFrameReader {
public:
    CRpcFrameReader() = default;
    CRpcFrameReader(const BYTE* pb, size_t n) : m_pData(pb), m_nSize(n) {}
    // Keeps the body it reads.
    explicit CRpcFrameReader(std::vector<BYTE>&& body);
    CRpcFrameReader(const CRpcFrameReader&) = delete;
    CRpcFrameReader& operator=(const CRpcFrameReader&) = delete;
    CRpcFrameReader(CRpcFrameReader&& other) noexcept;
    CRpcFrameReader& operator=(CRpcFrameReader&& other) noexcept;

    bool GetU8(BYTE& by);
    bool GetU16(WORD& w);
    bool GetU32(DWORD& dw);
    bool GetI16(SHORT& n);
    bool GetI32(LONG& n);
    bool GetGuid(GUID& guid);
    bool GetBytes(BYTE* pb, size_t n);
    // The caller frees the string.
    bool GetBstr(BSTR* pbstr);
    // *pvar is overwritten (not cleared first); the caller clears it. On
    // failure it is left empty.
    bool GetVariant(VARIANT* pvar);
    // Reads the new value of an [in, out] variant into *pvarTarget, freeing
    // the old one; a target holding a reference keeps it and gets the value
    // through it (a by-type reference only when the type is unchanged).
    bool GetInOutVariant(VARIANT* pvarTarget);

    bool IsOk() const { return !m_bFailed; }
    size_t GetRemaining() const { return m_nSize - m_nPos; }
    // Everything read and nothing failed.
    bool IsDone() const { return !m_bFailed && m_nPos == m_nSize; }
    // Marks the body as malformed.
    void Fail() { m_bFailed = true; }

    // The body length in a frame header, checked against the bounds; 0 when
    // it is out of them.
    static size_t BodyLengthOf(const BYTE header[4]);

private:
    bool Take(size_t n, const BYTE** ppb);
    bool GetArray(VARTYPE vtElement, SAFEARRAY** ppsa);

    std::vector<BYTE> m_body;
    const BYTE* m_pData = nullptr;
    size_t m_nSize = 0;
    size_t m_nPos = 0;
    bool m_bFailed = false;
};
