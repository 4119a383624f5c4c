// Type libraries: LoadTypeLib reads a .tlb file in either of the two
// formats (MSFT, and the older SLTG) and keeps the library's attributes;
// RegisterTypeLib records the library's GUID, version, locale, platform and
// path in the per-user registry file, typelib.reg in regprobe's directory
// under the XDG data directory ($XDG_DATA_HOME, else ~/.local/share).
#pragma once

#include "platform/com/Unknwn.h"

constexpr HRESULT TYPE_E_REGISTRYACCESS = static_cast<HRESULT>(0x8002801C);
constexpr HRESULT TYPE_E_INVDATAREAD = static_cast<HRESULT>(0x80028018);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = static_cast<HRESULT>(0x80029C4A);
constexpr HRESULT STG_E_FILENOTFOUND = static_cast<HRESULT>(0x80030002);

enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 };

struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

extern const IID IID_ITypeLib;

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// Only the members this program uses.
struct ITypeLib : IUnknown {
    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) = 0;
    virtual void ReleaseTLibAttr(TLIBATTR* pTLibAttr) = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
// The registry file RegisterTypeLib writes.
std::string TypeLibRegistryPath();
