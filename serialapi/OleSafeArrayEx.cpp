#include "OleSafeArrayEx.h"

#include <cstring>

namespace {
ULONG SizeOfElement(VARTYPE vt) {
    switch (vt) {
        case VT_UI1:
            return 1;
        case VT_I2:
            return 2;
        case VT_I4:
            return 4;
        default:
            return 0;
    }
}
}  // namespace

BOOL COleSafeArrayEx::FromByteArray(const CByteArray& bytes, VARIANT* pTarget, VARTYPE vtElement) {
    VARIANT* pv = pTarget != nullptr ? pTarget : this;
    if (FAILED(VariantClear(pv))) {
        return FALSE;
    }
    const ULONG cbElement = SizeOfElement(vtElement);
    if (cbElement == 0) {
        return FALSE;
    }
    SAFEARRAY* psa = SafeArrayCreateVector(vtElement, 0, static_cast<ULONG>(bytes.size()));
    if (psa == nullptr) {
        return FALSE;
    }
    pv->vt = static_cast<VARTYPE>(vtElement | VT_ARRAY);
    pv->parray = psa;
    void* pData = nullptr;
    if (FAILED(SafeArrayAccessData(psa, &pData))) {
        return FALSE;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        switch (vtElement) {
            case VT_UI1:
                static_cast<BYTE*>(pData)[i] = bytes[i];
                break;
            case VT_I2:
                static_cast<SHORT*>(pData)[i] = bytes[i];
                break;
            default:
                static_cast<LONG*>(pData)[i] = bytes[i];
                break;
        }
    }
    SafeArrayUnaccessData(psa);
    return TRUE;
}

SAFEARRAY* COleSafeArrayEx::GetSafeArrayPtr(const VARIANT* pVariant) {
    if (pVariant == nullptr || (pVariant->vt & VT_ARRAY) == 0) {
        return nullptr;
    }
    if (pVariant->vt & VT_BYREF) {
        return pVariant->pparray != nullptr ? *pVariant->pparray : nullptr;
    }
    return pVariant->parray;
}

BOOL COleSafeArrayEx::ToByteArray(CByteArray& bytes, const VARIANT* pSource) {
    const VARIANT* pv = pSource != nullptr ? pSource : this;
    if (pv->vt == (VT_BYREF | VT_VARIANT)) {
        pv = pv->pvarVal;
        if (pv == nullptr) {
            return FALSE;
        }
    }
    SAFEARRAY* psa = GetSafeArrayPtr(pv);
    if (psa == nullptr) {
        return FALSE;
    }
    const VARTYPE vtElement = pv->vt & VT_TYPEMASK;
    const ULONG cbElement = SizeOfElement(vtElement);
    // The variant's word on the element type must agree with the array's own
    // element size, or reading would run past the array's data.
    if (cbElement == 0 || SafeArrayGetElemsize(psa) != cbElement || SafeArrayGetDim(psa) != 1) {
        return FALSE;
    }
    LONG lLower = 0;
    LONG lUpper = 0;
    if (FAILED(SafeArrayGetLBound(psa, 1, &lLower)) ||
        FAILED(SafeArrayGetUBound(psa, 1, &lUpper))) {
        return FALSE;
    }
    void* pData = nullptr;
    if (FAILED(SafeArrayAccessData(psa, &pData))) {
        return FALSE;
    }
    const LONGLONG nCount = static_cast<LONGLONG>(lUpper) - lLower + 1;
    bytes.resize(nCount > 0 ? static_cast<size_t>(nCount) : 0);
    for (size_t i = 0; i < bytes.size(); ++i) {
        switch (vtElement) {
            case VT_UI1:
                bytes[i] = static_cast<const BYTE*>(pData)[i];
                break;
            case VT_I2:
                bytes[i] = static_cast<BYTE>(static_cast<const SHORT*>(pData)[i]);
                break;
            default:
                bytes[i] = static_cast<BYTE>(static_cast<const LONG*>(pData)[i]);
                break;
        }
    }
    SafeArrayUnaccessData(psa);
    return TRUE;
}
