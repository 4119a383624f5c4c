#include "Remoting.h"

// Until a remoting layer is linked, classes are only known in process.
HRESULT ComActivateLocal(REFCLSID, IUnknown** ppUnk) {
    *ppUnk = nullptr;
    return REGDB_E_CLASSNOTREG;
}

HRESULT ComActivateRemote(REFCLSID, const OLECHAR*, IUnknown** ppUnk) {
    *ppUnk = nullptr;
    return REGDB_E_CLASSNOTREG;
}
