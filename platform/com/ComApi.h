// COM start-up, activation and class registration.
#pragma once

#include "OleAuto.h"

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
};

struct COAUTHINFO;

struct COSERVERINFO {
    DWORD dwReserved1;
    LPOLESTR pwszName;
    COAUTHINFO* pAuthInfo;
    DWORD dwReserved2;
};

struct MULTI_QI {
    const IID* pIID;
    IUnknown* pItf;
    HRESULT hr;
};

constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;

// Per-thread initialisation count; activation needs it.
HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
void CoUninitialize();

// Serves a class from an object in this process for the contexts in
// dwClsContext (tests stand fake servers behind activation this way).
HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags,
                              DWORD* lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);

// Whether this thread called CoInitializeEx more often than CoUninitialize.
bool CoIsInitialized();
// Creates an object from a class object registered in this process for one of
// the contexts; S_FALSE, with no object, when there is none.
HRESULT CoCreateRegistered(REFCLSID rclsid, DWORD dwClsCtx, IUnknown** ppUnk);

// Defined by the remoting layer (rpc/), which links this library: creates an
// object of the class in the context asked for: a class object
// registered in this process for that context serves first; otherwise the
// out-of-process activation for local or remote servers runs.
HRESULT CoCreateInstanceEx(REFCLSID Clsid, IUnknown* punkOuter, DWORD dwClsCtx,
                           COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults);
