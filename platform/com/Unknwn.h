// IUnknown, IDispatch and IClassFactory in the Windows vtable order. No
// interface declares a virtual destructor: it would take vtable slots.
#pragma once

#include <atomic>

#include "ComBase.h"

struct ITypeInfo;
struct tagVARIANT;
using VARIANT = tagVARIANT;
using VARIANTARG = tagVARIANT;

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;  // 0
    virtual ULONG AddRef() = 0;                                         // 1
    virtual ULONG Release() = 0;                                        // 2
};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;                           // 3
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;  // 4
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;  // 5
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                           UINT* puArgErr) = 0;  // 6
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;  // 3
    virtual HRESULT LockServer(BOOL fLock) = 0;                                              // 4
};

// The reference count of an object made with new: the last Release deletes
// it, through the virtual destructor that follows the interface's slots.
// QueryInterface is left to the object.
template <class Itf>
class CRefCounted : public Itf {
public:
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override {
        const ULONG nLeft = --m_nRefs;
        if (nLeft == 0) {
            delete this;
        }
        return nLeft;
    }

protected:
    virtual ~CRefCounted() = default;

private:
    std::atomic<ULONG> m_nRefs{1};
};

// IDispatch's own members for an interface that is called through its
// vtable only: late binding is not offered, so each answers E_NOTIMPL.
template <class Itf>
class CNoDispatch : public Itf {
public:
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// Zero-based vtable slot of a virtual member function, for checking interface
// layouts (Itanium C++ ABI: a virtual member pointer holds 1 + slot offset).
template <typename F>
std::size_t VtableSlotOf(F pmf) {
    static_assert(sizeof(F) >= sizeof(std::uintptr_t));
    std::uintptr_t raw;
    __builtin_memcpy(&raw, &pmf, sizeof raw);
    return (raw - 1) / sizeof(void*);
}
