#include "RpcFrameReader.h"

#include <utility>

#include "RpcFrame.h"

CRpcFrameReader::CRpcFrameReader(std::vector<BYTE>&& body)
    : m_body(std::move(body)), m_pData(m_body.data()), m_nSize(m_body.size()) {}

CRpcFrameReader::CRpcFrameReader(CRpcFrameReader&& other) noexcept {
    *this = std::move(other);
}

CRpcFrameReader& CRpcFrameReader::operator=(CRpcFrameReader&& other) noexcept {
    if (this != &other) {
        bool bOwned = other.m_pData == other.m_body.data();
        m_body = std::move(other.m_body);
        m_pData = bOwned ? m_body.data() : other.m_pData;
        m_nSize = other.m_nSize;
        m_nPos = other.m_nPos;
        m_bFailed = other.m_bFailed;
        other.m_pData = nullptr;
        other.m_nSize = other.m_nPos = 0;
    }
    return *this;
}

bool CRpcFrameReader::Take(size_t n, const BYTE** ppb) {
    if (m_bFailed || n > m_nSize - m_nPos) {
        m_bFailed = true;
        return false;
    }
    *ppb = m_pData + m_nPos;
    m_nPos += n;
    return true;
}

bool CRpcFrameReader::GetU8(BYTE& by) {
    const BYTE* pb;
    if (!Take(1, &pb)) {
        return false;
    }
    by = pb[0];
    return true;
}

bool CRpcFrameReader::GetU16(WORD& w) {
    const BYTE* pb;
    if (!Take(2, &pb)) {
        return false;
    }
    w = static_cast<WORD>(pb[0] | pb[1] << 8);
    return true;
}

bool CRpcFrameReader::GetU32(DWORD& dw) {
    const BYTE* pb;
    if (!Take(4, &pb)) {
        return false;
    }
    dw = DWORD(pb[0]) | DWORD(pb[1]) << 8 | DWORD(pb[2]) << 16 | DWORD(pb[3]) << 24;
    return true;
}

bool CRpcFrameReader::GetI16(SHORT& n) {
    WORD w;
    if (!GetU16(w)) {
        return false;
    }
    n = static_cast<SHORT>(w);
    return true;
}

bool CRpcFrameReader::GetI32(LONG& n) {
    DWORD dw;
    if (!GetU32(dw)) {
        return false;
    }
    n = static_cast<LONG>(dw);
    return true;
}

bool CRpcFrameReader::GetGuid(GUID& guid) {
    return GetU32(guid.Data1) && GetU16(guid.Data2) && GetU16(guid.Data3) &&
           GetBytes(guid.Data4, sizeof guid.Data4);
}

bool CRpcFrameReader::GetBytes(BYTE* pb, size_t n) {
    const BYTE* pbFrom;
    if (!Take(n, &pbFrom)) {
        return false;
    }
    __builtin_memcpy(pb, pbFrom, n);
    return true;
}

bool CRpcFrameReader::GetBstr(BSTR* pbstr) {
    *pbstr = nullptr;
    DWORD n;
    if (!GetU32(n)) {
        return false;
    }
    if (n == 0xFFFFFFFF) {
        return true;
    }
    const BYTE* pb;
    if (n > GetRemaining() / 2 || !Take(2 * size_t(n), &pb)) {
        m_bFailed = true;
        return false;
    }
    BSTR bstr = SysAllocStringLen(nullptr, n);
    if (bstr == nullptr) {
        m_bFailed = true;
        return false;
    }
    for (DWORD i = 0; i < n; ++i) {
        bstr[i] = static_cast<OLECHAR>(pb[2 * i] | pb[2 * i + 1] << 8);
    }
    *pbstr = bstr;
    return true;
}

bool CRpcFrameReader::GetArray(VARTYPE vtElement, SAFEARRAY** ppsa) {
    *ppsa = nullptr;
    WORD wDims;
    if (!GetU16(wDims)) {
        return false;
    }
    if (wDims == 0) {
        return true;
    }
    LONG lLbound;
    DWORD dwCount;
    if (wDims != 1 || !GetI32(lLbound) || !GetU32(dwCount)) {
        m_bFailed = true;
        return false;
    }
    size_t cbElement = vtElement == VT_UI1 ? 1 : vtElement == VT_I2 ? 2 : 4;
    const BYTE* pb;
    if (dwCount > GetRemaining() / cbElement || !Take(dwCount * cbElement, &pb)) {
        m_bFailed = true;
        return false;
    }
    SAFEARRAY* psa = SafeArrayCreateVector(vtElement, lLbound, dwCount);
    if (psa == nullptr) {
        m_bFailed = true;
        return false;
    }
    auto* pbTo = static_cast<BYTE*>(psa->pvData);
    for (DWORD i = 0; i < dwCount; ++i) {
        if (vtElement == VT_UI1) {
            pbTo[i] = pb[i];
        } else if (vtElement == VT_I2) {
            auto n = static_cast<SHORT>(pb[2 * i] | pb[2 * i + 1] << 8);
            __builtin_memcpy(pbTo + 2 * size_t(i), &n, 2);
        } else {
            const BYTE* p = pb + 4 * size_t(i);
            auto n = static_cast<LONG>(DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 |
                                       DWORD(p[3]) << 24);
            __builtin_memcpy(pbTo + 4 * size_t(i), &n, 4);
        }
    }
    *ppsa = psa;
    return true;
}

bool CRpcFrameReader::GetVariant(VARIANT* pvar) {
    VariantInit(pvar);
    WORD vt;
    if (!GetU16(vt)) {
        return false;
    }
    bool bOk = true;
    if (vt & VT_ARRAY) {
        VARTYPE vtElement = vt & ~VT_ARRAY;
        bOk = (vtElement == VT_UI1 || vtElement == VT_I2 || vtElement == VT_I4) &&
              GetArray(vtElement, &pvar->parray);
    } else {
        switch (vt) {
            case VT_EMPTY:
            case VT_NULL:
                break;
            case VT_UI1:
                bOk = GetU8(pvar->bVal);
                break;
            case VT_I2:
            case VT_BOOL:
                bOk = GetI16(pvar->iVal);
                break;
            case VT_I4:
            case VT_ERROR:
                bOk = GetI32(pvar->lVal);
                break;
            case VT_BSTR:
                bOk = GetBstr(&pvar->bstrVal);
                break;
            default:
                bOk = false;
                break;
        }
    }
    if (!bOk) {
        m_bFailed = true;
        VariantInit(pvar);
        return false;
    }
    pvar->vt = vt;
    return true;
}

bool CRpcFrameReader::GetInOutVariant(VARIANT* pvarTarget) {
    VARIANT value;
    if (!GetVariant(&value)) {
        return false;
    }
    VARTYPE vtTarget = pvarTarget->vt;
    if ((vtTarget & VT_BYREF) == 0) {
        VariantClear(pvarTarget);
        *pvarTarget = value;
        return true;
    }
    VARTYPE vtBase = vtTarget & ~VT_BYREF;
    if (vtBase == VT_VARIANT) {
        VariantClear(pvarTarget->pvarVal);
        *pvarTarget->pvarVal = value;
        return true;
    }
    if (value.vt != vtBase) {
        // A typed reference cannot take another type; the caller keeps its value.
        VariantClear(&value);
        return true;
    }
    if (vtBase & VT_ARRAY) {
        SafeArrayDestroy(*pvarTarget->pparray);
        *pvarTarget->pparray = value.parray;
        return true;
    }
    switch (vtBase) {
        case VT_UI1:
            *pvarTarget->pbVal = value.bVal;
            break;
        case VT_I2:
        case VT_BOOL:
            *pvarTarget->piVal = value.iVal;
            break;
        case VT_I4:
        case VT_ERROR:
            *pvarTarget->plVal = value.lVal;
            break;
        case VT_BSTR:
            SysFreeString(*pvarTarget->pbstrVal);
            *pvarTarget->pbstrVal = value.bstrVal;
            break;
        default:
            VariantClear(&value);
            break;
    }
    return true;
}

size_t CRpcFrameReader::BodyLengthOf(const BYTE header[4]) {
    size_t n = size_t(header[0]) | size_t(header[1]) << 8 | size_t(header[2]) << 16 |
               size_t(header[3]) << 24;
    return n >= RPC_MIN_BODY && n <= RPC_MAX_BODY ? n : 0;
}
