#include "RpcFrameWriter.h"

#include "RpcFrame.h"

namespace {
// Scalar types that cross the wire, as themselves or as array elements.
bool IsRemotedArrayElement(VARTYPE vt) {
    return vt == VT_UI1 || vt == VT_I2 || vt == VT_I4;
}
}  // namespace

CRpcFrameWriter::CRpcFrameWriter(BYTE byType, DWORD dwCallId) {
    m_data.reserve(64);
    m_data.resize(4);
    PutU8(byType);
    PutU32(dwCallId);
}

void CRpcFrameWriter::PutU16(WORD w) {
    m_data.push_back(static_cast<BYTE>(w));
    m_data.push_back(static_cast<BYTE>(w >> 8));
}

void CRpcFrameWriter::PutU32(DWORD dw) {
    for (int i = 0; i < 4; ++i) {
        m_data.push_back(static_cast<BYTE>(dw >> (8 * i)));
    }
}

void CRpcFrameWriter::PutGuid(REFGUID guid) {
    PutU32(guid.Data1);
    PutU16(guid.Data2);
    PutU16(guid.Data3);
    PutBytes(guid.Data4, sizeof guid.Data4);
}

void CRpcFrameWriter::PutBytes(const BYTE* pb, size_t n) {
    m_data.insert(m_data.end(), pb, pb + n);
}

void CRpcFrameWriter::PutBstr(BSTR bstr) {
    if (bstr == nullptr) {
        PutU32(0xFFFFFFFF);
        return;
    }
    UINT n = SysStringLen(bstr);
    PutU32(n);
    for (UINT i = 0; i < n; ++i) {
        PutU16(bstr[i]);
    }
}

HRESULT CRpcFrameWriter::PutArray(VARTYPE vtElement, SAFEARRAY* psa) {
    if (psa == nullptr) {
        PutU16(0);
        return S_OK;
    }
    VARTYPE vtArray = VT_EMPTY;
    if (SafeArrayGetDim(psa) != 1) {
        return E_INVALIDARG;
    }
    if (FAILED(SafeArrayGetVartype(psa, &vtArray)) || vtArray != vtElement) {
        return DISP_E_BADVARTYPE;
    }
    const SAFEARRAYBOUND& bound = psa->rgsabound[0];
    size_t nBytes = size_t(bound.cElements) * psa->cbElements;
    if (nBytes > RPC_MAX_BODY) {
        return E_INVALIDARG;
    }
    PutU16(1);
    PutI32(bound.lLbound);
    PutU32(bound.cElements);
    const auto* pb = static_cast<const BYTE*>(psa->pvData);
    for (ULONG i = 0; i < bound.cElements; ++i) {
        if (vtElement == VT_UI1) {
            PutU8(pb[i]);
        } else if (vtElement == VT_I2) {
            SHORT n;
            __builtin_memcpy(&n, pb + 2 * size_t(i), 2);
            PutI16(n);
        } else {
            LONG n;
            __builtin_memcpy(&n, pb + 4 * size_t(i), 4);
            PutI32(n);
        }
    }
    return S_OK;
}

namespace {
// The by-value form of a by-reference variant, sharing its storage.
HRESULT Dereference(const VARIANT& var, VARIANT* pValue) {
    if (var.byref == nullptr) {
        return E_INVALIDARG;
    }
    const VARTYPE vtBase = var.vt & ~VT_BYREF;
    pValue->vt = vtBase;
    if (vtBase == VT_VARIANT) {
        // A reference to a variant that is itself a reference is not valid.
        if (var.pvarVal->vt & VT_BYREF) {
            return E_INVALIDARG;
        }
        *pValue = *var.pvarVal;
        return S_OK;
    }
    if (vtBase & VT_ARRAY) {
        pValue->parray = *var.pparray;
        return S_OK;
    }
    switch (vtBase) {
        case VT_UI1:
            pValue->bVal = *var.pbVal;
            return S_OK;
        case VT_I2:
        case VT_BOOL:
            pValue->iVal = *var.piVal;
            return S_OK;
        case VT_I4:
        case VT_ERROR:
            pValue->lVal = *var.plVal;
            return S_OK;
        case VT_BSTR:
            pValue->bstrVal = *var.pbstrVal;
            return S_OK;
        default:
            return DISP_E_BADVARTYPE;
    }
}
}  // namespace

HRESULT CRpcFrameWriter::PutVariant(const VARIANT& var) {
    VARIANT value;
    VariantInit(&value);
    if (var.vt & VT_BYREF) {
        if (const HRESULT hr = Dereference(var, &value); FAILED(hr)) {
            return hr;
        }
    } else {
        value = var;
    }
    const size_t nMark = m_data.size();
    const HRESULT hr = PutValue(value);
    if (FAILED(hr)) {
        m_data.resize(nMark);
    }
    return hr;
}

HRESULT CRpcFrameWriter::PutValue(const VARIANT& value) {
    const VARTYPE vt = value.vt;
    PutU16(vt);
    if (vt & VT_ARRAY) {
        const VARTYPE vtElement = vt & ~VT_ARRAY;
        return IsRemotedArrayElement(vtElement) ? PutArray(vtElement, value.parray)
                                                : DISP_E_BADVARTYPE;
    }
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
            return S_OK;
        case VT_UI1:
            PutU8(value.bVal);
            return S_OK;
        case VT_I2:
        case VT_BOOL:
            PutI16(value.iVal);
            return S_OK;
        case VT_I4:
        case VT_ERROR:
            PutI32(value.lVal);
            return S_OK;
        case VT_BSTR:
            PutBstr(value.bstrVal);
            return S_OK;
        default:
            return DISP_E_BADVARTYPE;
    }
}

void CRpcFrameWriter::PatchU32(size_t nBodyOffset, DWORD dw) {
    for (size_t i = 0; i < 4; ++i) {
        m_data[4 + nBodyOffset + i] = static_cast<BYTE>(dw >> (8 * i));
    }
}

DWORD CRpcFrameWriter::GetCallId() const {
    return DWORD(m_data[5]) | DWORD(m_data[6]) << 8 | DWORD(m_data[7]) << 16 |
           DWORD(m_data[8]) << 24;
}

bool CRpcFrameWriter::Seal() {
    size_t n = GetBodySize();
    if (n > RPC_MAX_BODY) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        m_data[i] = static_cast<BYTE>(n >> (8 * i));
    }
    return true;
}
