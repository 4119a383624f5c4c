// Error objects: what a failure was beyond its HRESULT, for the caller to
// show. Whoever fails sets one for its thread (SetErrorInfo); the caller
// takes it (GetErrorInfo) right after the failing call.
#pragma once

#include <string>

#include "OleAuto.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* pGUID) = 0;                    // 3
    virtual HRESULT GetSource(BSTR* pBstrSource) = 0;            // 4
    virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;  // 5
    virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;        // 6
    virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;   // 7
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID rguid) = 0;                  // 3
    virtual HRESULT SetSource(LPOLESTR szSource) = 0;            // 4
    virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;  // 5
    virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;        // 6
    virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;     // 7
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

extern const IID IID_IErrorInfo;
extern const IID IID_ICreateErrorInfo;

// A new, empty error object; it also answers IErrorInfo.
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// Makes perrinfo (null: none) this thread's error object.
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands this thread's error object over and leaves none; S_FALSE, with
// null, when there is none.
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

// The description of this thread's error object, which is taken; empty when
// there is none.
std::string TakeErrorDescription();
// Makes a new error object with the description (UTF-8) this thread's.
void SetErrorDescription(const std::string& strDescription);
