// Makes a new fake serial port for every activation.
#pragma once

#include "platform/com/Unknwn.h"

class CFakeClassFactory : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    // Lives as long as its owner: the counts are not kept.
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL) override { return S_OK; }
};
