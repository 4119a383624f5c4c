// A client of the serial-port server for checking an installation: copied
// into an unpacked package's bin directory, it registers the server by name
// as the application does, starts it on demand, reads a property through it
// and prints the executable it found. Exit status 0 only when all of that
// worked.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/com/ComApi.h"
#include "platform/com/ComPtr.h"
#include "platform/com/rpc/RpcSettings.h"
#include "serialapi/ModbusSerialServer.h"
#include "serialapi/ModbusSerialServerPs.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s RUNTIME-DIRECTORY\n", argv[0]);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    RegisterModbusSerialServerPs();
    CoSetRuntimeDirectory(argv[1]);
    CoRegisterLocalServer(CLSID_ModbusSerialServer, MODBUS_SERIAL_SERVER_PROGRAM);
    std::string strExe = RpcGetLocalServer(CLSID_ModbusSerialServer);
    std::printf("server: %s\n", strExe.c_str());
    MULTI_QI qi{&IID_IModbusSerialPort, nullptr, S_OK};
    HRESULT hr =
        CoCreateInstanceEx(CLSID_ModbusSerialServer, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 1, &qi);
    int nStatus = 1;
    if (SUCCEEDED(hr)) {
        CComPtr<IModbusSerialPort> pPort;
        pPort.Attach(static_cast<IModbusSerialPort*>(qi.pItf));
        LONG nPort = 0;
        hr = pPort->get_Port(&nPort);
        std::printf("activated: port %ld (0x%08lx)\n", static_cast<long>(nPort),
                    static_cast<unsigned long>(hr));
        nStatus = SUCCEEDED(hr) ? 0 : 1;
    } else {
        std::printf("activation failed: 0x%08lx\n", static_cast<unsigned long>(hr));
    }
    CoUninitialize();
    return nStatus;
}
