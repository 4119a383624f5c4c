#include "Module.h"

#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/UniqueFd.h"
#include "platform/com/ComApi.h"

namespace {
struct CExport {
    const char* pszName;
    FARPROC pfn;
};

struct CModule {
    const char* pszName;
    const CExport* pExports;
    size_t nExports;
};

const CExport kOle32Exports[] = {
    {"CoCreateInstanceEx", reinterpret_cast<FARPROC>(&CoCreateInstanceEx)},
    {"CoInitializeEx", reinterpret_cast<FARPROC>(&CoInitializeEx)},
    {"CoUninitialize", reinterpret_cast<FARPROC>(&CoUninitialize)},
};

CModule g_ole32{"ole32.dll", kOle32Exports, sizeof kOle32Exports / sizeof kOle32Exports[0]};

bool CanOpenLocalSockets() {
    return CUniqueFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)).IsValid();
}
}  // namespace

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
    if (lpModuleName != nullptr && strcasecmp(lpModuleName, g_ole32.pszName) == 0 &&
        CanOpenLocalSockets()) {
        return reinterpret_cast<HMODULE>(&g_ole32);
    }
    return nullptr;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (hModule == nullptr || lpProcName == nullptr) {
        return nullptr;
    }
    const auto* pModule = reinterpret_cast<const CModule*>(hModule);
    for (size_t i = 0; i < pModule->nExports; ++i) {
        if (std::strcmp(pModule->pExports[i].pszName, lpProcName) == 0) {
            return pModule->pExports[i].pfn;
        }
    }
    return nullptr;
}
