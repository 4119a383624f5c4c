// The serial-port server of the remoting tests, started on demand: exports
// fake serial ports on the local socket and leaves once idle for 500 ms.
#include <unistd.h>

#include <cstdio>

#include "platform/com/ComApi.h"
#include "platform/com/rpc/RpcFrame.h"
#include "platform/com/rpc/RpcServer.h"
#include "serialapi/ModbusSerialServerPs.h"
#include "tests/support/FakeSerialPort.h"

int main() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    RegisterModbusSerialServerPs();
    CFakeClassFactory factory;
    DWORD dwCookie = 0;
    CoRegisterClassObject(CLSID_ModbusSerialServer, &factory, CLSCTX_LOCAL_SERVER,
                          REGCLS_MULTIPLEUSE, &dwCookie);
    HRESULT hr;
    {
        CRpcServer server;
        hr = server.ListenLocal(CLSID_ModbusSerialServer);
        while (SUCCEEDED(hr) && server.GetIdleMillis() < 500) {
            ::usleep(20000);
        }
    }
    CoRevokeClassObject(dwCookie);
    CoUninitialize();
    // Losing a race to start against another instance is no failure.
    if (FAILED(hr) && hr != RPC_S_DUPLICATE_ENDPOINT_HR) {
        std::fprintf(stderr, "listen on the local socket: 0x%08X\n", unsigned(hr));
        return 1;
    }
    return 0;
}
