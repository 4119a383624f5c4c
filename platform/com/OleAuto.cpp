#include "OleAuto.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "platform/Unicode.h"

// ---- BSTR ----

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    if (ui > (std::numeric_limits<UINT>::max() - 8) / 2) {
        return nullptr;
    }
    auto* block = static_cast<BYTE*>(std::malloc(4 + 2 * size_t(ui) + 2));
    if (block == nullptr) {
        return nullptr;
    }
    std::uint32_t nBytes = 2 * ui;
    std::memcpy(block, &nBytes, 4);
    auto* str = reinterpret_cast<OLECHAR*>(block + 4);
    if (strIn != nullptr) {
        std::memcpy(str, strIn, 2 * size_t(ui));
    } else {
        std::memset(str, 0, 2 * size_t(ui));
    }
    str[ui] = u'\0';
    return str;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) {
        return nullptr;
    }
    UINT n = 0;
    while (psz[n] != u'\0') {
        ++n;
    }
    return SysAllocStringLen(psz, n);
}

void SysFreeString(BSTR bstrString) {
    if (bstrString != nullptr) {
        std::free(reinterpret_cast<BYTE*>(bstrString) - 4);
    }
}

UINT SysStringByteLen(BSTR bstr) {
    if (bstr == nullptr) {
        return 0;
    }
    std::uint32_t nBytes;
    std::memcpy(&nBytes, reinterpret_cast<BYTE*>(bstr) - 4, 4);
    return nBytes;
}

UINT SysStringLen(BSTR pbstr) {
    return SysStringByteLen(pbstr) / 2;
}

// ---- SAFEARRAY ----

namespace {
// Element size of the types a safe array may hold; 0 for the others.
ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_R8:
        case VT_I8:
        case VT_UI8:
            return 8;
        case VT_BSTR:
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return sizeof(void*);
        case VT_VARIANT:
            return sizeof(VARIANT);
        default:
            return 0;
    }
}

// The element type lives just before the descriptor (as FADF_HAVEVARTYPE says).
struct ArrayBlock {
    VARTYPE vt;
    alignas(std::max_align_t) BYTE descriptor[1];
};

VARTYPE& VartypeOf(SAFEARRAY* psa) {
    auto* base = reinterpret_cast<BYTE*>(psa) - offsetof(ArrayBlock, descriptor);
    return reinterpret_cast<ArrayBlock*>(base)->vt;
}

ULONGLONG ElementCount(const SAFEARRAY* psa) {
    ULONGLONG n = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        n *= psa->rgsabound[i].cElements;
    }
    return n;
}
}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound) {
    ULONG cbElement = ElementSize(vt);
    if (cbElement == 0 || cDims == 0 || cDims > 64 || rgsabound == nullptr) {
        return nullptr;
    }
    ULONGLONG nElements = 1;
    for (UINT i = 0; i < cDims; ++i) {
        nElements *= rgsabound[i].cElements;
        if (nElements > (1ULL << 31) / cbElement) {
            return nullptr;
        }
    }
    size_t descriptorSize = sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    void* block = std::calloc(1, offsetof(ArrayBlock, descriptor) + descriptorSize);
    if (block == nullptr) {
        return nullptr;
    }
    auto* psa =
        reinterpret_cast<SAFEARRAY*>(static_cast<BYTE*>(block) + offsetof(ArrayBlock, descriptor));
    static_cast<ArrayBlock*>(block)->vt = vt;
    psa->cDims = static_cast<USHORT>(cDims);
    psa->cbElements = cbElement;
    psa->fFeatures = FADF_HAVEVARTYPE;
    if (vt == VT_BSTR) {
        psa->fFeatures |= FADF_BSTR;
    } else if (vt == VT_VARIANT) {
        psa->fFeatures |= FADF_VARIANT;
    } else if (vt == VT_UNKNOWN) {
        psa->fFeatures |= FADF_UNKNOWN;
    } else if (vt == VT_DISPATCH) {
        psa->fFeatures |= FADF_DISPATCH;
    }
    // Windows keeps the bounds with the last dimension first.
    for (UINT i = 0; i < cDims; ++i) {
        psa->rgsabound[i] = rgsabound[cDims - 1 - i];
    }
    psa->pvData = std::calloc(nElements > 0 ? nElements : 1, cbElement);
    if (psa->pvData == nullptr) {
        std::free(block);
        return nullptr;
    }
    if (vt == VT_VARIANT) {
        auto* pv = static_cast<VARIANT*>(psa->pvData);
        for (ULONGLONG i = 0; i < nElements; ++i) {
            VariantInit(&pv[i]);
        }
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return S_OK;
    }
    if (psa->cLocks > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    ULONGLONG n = ElementCount(psa);
    if (psa->fFeatures & FADF_BSTR) {
        auto* p = static_cast<BSTR*>(psa->pvData);
        for (ULONGLONG i = 0; i < n; ++i) {
            SysFreeString(p[i]);
        }
    } else if (psa->fFeatures & FADF_VARIANT) {
        auto* p = static_cast<VARIANT*>(psa->pvData);
        for (ULONGLONG i = 0; i < n; ++i) {
            VariantClear(&p[i]);
        }
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* p = static_cast<IUnknown**>(psa->pvData);
        for (ULONGLONG i = 0; i < n; ++i) {
            if (p[i] != nullptr) {
                p[i]->Release();
            }
        }
    }
    std::free(psa->pvData);
    std::free(reinterpret_cast<BYTE*>(psa) - offsetof(ArrayBlock, descriptor));
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    if (psa->cLocks >= 0xFFFF) {
        return E_UNEXPECTED;
    }
    ++psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    if (psa->cLocks == 0) {
        return E_UNEXPECTED;
    }
    --psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (psa == nullptr || ppvData == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT hr = SafeArrayLock(psa);
    *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    return SafeArrayUnlock(psa);
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
    return psa != nullptr ? psa->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
    return psa != nullptr ? psa->cbElements : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (psa == nullptr || plLbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim == 0 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (psa == nullptr || plUbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim == 0 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - nDim];
    *plUbound = static_cast<LONG>(b.lLbound + static_cast<LONGLONG>(b.cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (psa == nullptr || pvt == nullptr) {
        return E_INVALIDARG;
    }
    *pvt = VartypeOf(psa);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (ppsaOut == nullptr) {
        return E_INVALIDARG;
    }
    *ppsaOut = nullptr;
    if (psa == nullptr) {
        return S_OK;
    }
    VARTYPE vt = VartypeOf(psa);
    SAFEARRAYBOUND bounds[64] = {};
    for (USHORT i = 0; i < psa->cDims; ++i) {
        bounds[i] = psa->rgsabound[psa->cDims - 1 - i];
    }
    SAFEARRAY* out = SafeArrayCreate(vt, psa->cDims, bounds);
    if (out == nullptr) {
        return E_OUTOFMEMORY;
    }
    ULONGLONG n = ElementCount(psa);
    if (vt == VT_BSTR) {
        auto* src = static_cast<BSTR*>(psa->pvData);
        auto* dst = static_cast<BSTR*>(out->pvData);
        for (ULONGLONG i = 0; i < n; ++i) {
            dst[i] = src[i] != nullptr ? SysAllocStringLen(src[i], SysStringLen(src[i])) : nullptr;
        }
    } else if (vt == VT_VARIANT) {
        auto* src = static_cast<VARIANT*>(psa->pvData);
        auto* dst = static_cast<VARIANT*>(out->pvData);
        for (ULONGLONG i = 0; i < n; ++i) {
            HRESULT hr = VariantCopy(&dst[i], &src[i]);
            if (FAILED(hr)) {
                SafeArrayDestroy(out);
                return hr;
            }
        }
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        auto* src = static_cast<IUnknown**>(psa->pvData);
        auto* dst = static_cast<IUnknown**>(out->pvData);
        for (ULONGLONG i = 0; i < n; ++i) {
            dst[i] = src[i];
            if (dst[i] != nullptr) {
                dst[i]->AddRef();
            }
        }
    } else if (n > 0) {
        std::memcpy(out->pvData, psa->pvData, n * psa->cbElements);
    }
    *ppsaOut = out;
    return S_OK;
}

// ---- VARIANT ----

void VariantInit(VARIANTARG* pvarg) {
    pvarg->vt = VT_EMPTY;
    pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
    pvarg->ullVal = 0;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (pvarg == nullptr) {
        return E_INVALIDARG;
    }
    VARTYPE vt = pvarg->vt;
    if ((vt & VT_BYREF) == 0) {
        if (vt & VT_ARRAY) {
            HRESULT hr = SafeArrayDestroy(pvarg->parray);
            if (FAILED(hr)) {
                return hr;
            }
        } else {
            switch (vt) {
                case VT_BSTR:
                    SysFreeString(pvarg->bstrVal);
                    break;
                case VT_UNKNOWN:
                case VT_DISPATCH:
                    if (pvarg->punkVal != nullptr) {
                        pvarg->punkVal->Release();
                    }
                    break;
                default:
                    if ((vt & VT_TYPEMASK) > VT_UINT || vt == 15) {
                        return DISP_E_BADVARTYPE;
                    }
                    break;
            }
        }
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (pvargDest == nullptr || pvargSrc == nullptr) {
        return E_INVALIDARG;
    }
    if (pvargDest == pvargSrc) {
        return S_OK;
    }
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        return hr;
    }
    VARIANT copy = *pvargSrc;
    if ((copy.vt & VT_BYREF) == 0) {
        if (copy.vt & VT_ARRAY) {
            hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
            if (FAILED(hr)) {
                return hr;
            }
        } else if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
            copy.bstrVal = SysAllocStringLen(copy.bstrVal, SysStringLen(copy.bstrVal));
            if (copy.bstrVal == nullptr) {
                return E_OUTOFMEMORY;
            }
        } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal != nullptr) {
            copy.punkVal->AddRef();
        }
    }
    *pvargDest = copy;
    return S_OK;
}

VARIANT COleSafeArray::Detach() {
    VARIANT v = *this;
    VariantInit(this);
    return v;
}

// ---- Strings ----

int MultiByteToWideChar(UINT, DWORD, const char* lpMultiByteStr, int cbMultiByte,
                        OLECHAR* lpWideCharStr, int cchWideChar) {
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0) {
        return 0;
    }
    std::string in = cbMultiByte == -1 ? std::string(lpMultiByteStr) + '\0'
                                       : std::string(lpMultiByteStr, size_t(cbMultiByte));
    std::u16string wide = MultiByteToWide(in);
    if (cchWideChar == 0) {
        return static_cast<int>(wide.size());
    }
    if (lpWideCharStr == nullptr || wide.size() > size_t(cchWideChar)) {
        return 0;
    }
    std::memcpy(lpWideCharStr, wide.data(), wide.size() * 2);
    return static_cast<int>(wide.size());
}

BSTR AllocBstr(const std::string& s) {
    std::u16string wide = MultiByteToWide(s);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string BstrToString(BSTR bstr) {
    if (bstr == nullptr) {
        return std::string();
    }
    return WideToMultiByte(std::u16string(bstr, SysStringLen(bstr)));
}
