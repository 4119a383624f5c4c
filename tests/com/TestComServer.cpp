// The serial-port server of the remoting tests: exports fake serial ports
// on the local socket and, when given an address and a key file, over TCP.
//   regprobe-test-com-server [--activated] [--listen ADDR --key-file FILE]
// Started on demand (--activated) it leaves once idle for
// $REGPROBE_TEST_LINGER_MS (default 300 ms); otherwise when its standard
// input closes. With --listen it prints "port N" once it listens.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FakeClassFactory.h"
#include "platform/com/ComApi.h"
#include "platform/com/RpcFrame.h"
#include "platform/com/RpcServer.h"
#include "transport/ModbusSerialServerPs.h"

namespace {
bool StdinClosed() {
    pollfd p{0, POLLIN, 0};
    if (::poll(&p, 1, 20) != 1) {
        return false;
    }
    char buf[64];
    return ::read(0, buf, sizeof buf) <= 0;
}
}  // namespace

int main(int argc, char** argv) {
    bool bActivated = false;
    const char* pszListen = nullptr;
    const char* pszKeyFile = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--activated") == 0) {
            bActivated = true;
        } else if (std::strcmp(argv[i], "--listen") == 0 && i + 1 < argc) {
            pszListen = argv[++i];
        } else if (std::strcmp(argv[i], "--key-file") == 0 && i + 1 < argc) {
            pszKeyFile = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--activated] [--listen ADDR --key-file FILE]\n",
                         argv[0]);
            return 2;
        }
    }
    const char* pszLinger = std::getenv("REGPROBE_TEST_LINGER_MS");
    DWORD dwLinger = pszLinger != nullptr ? static_cast<DWORD>(std::atol(pszLinger)) : 300;

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    RegisterModbusSerialServerPs();
    CFakeClassFactory factory;
    DWORD dwCookie = 0;
    CoRegisterClassObject(CLSID_ModbusSerialServer, &factory, CLSCTX_LOCAL_SERVER,
                          REGCLS_MULTIPLEUSE, &dwCookie);
    int nExit = 0;
    {
        CRpcServer server;
        HRESULT hr = server.ListenLocal(CLSID_ModbusSerialServer);
        if (hr == RPC_S_DUPLICATE_ENDPOINT_HR) {
            nExit = 0;  // another instance serves the class
        } else if (FAILED(hr)) {
            std::fprintf(stderr, "listen on the local socket: 0x%08X\n", unsigned(hr));
            nExit = 1;
        } else {
            if (pszListen != nullptr) {
                WORD nPort = 0;
                hr = server.ListenTcp(pszListen, pszKeyFile != nullptr ? pszKeyFile : "", &nPort);
                if (FAILED(hr)) {
                    std::printf("error 0x%08X\n", unsigned(hr));
                    std::fflush(stdout);
                    nExit = 3;
                } else {
                    std::printf("port %u\n", unsigned(nPort));
                    std::fflush(stdout);
                }
            }
            while (nExit == 0) {
                if (bActivated ? server.GetIdleMillis() >= dwLinger : StdinClosed()) {
                    break;
                }
                if (bActivated) {
                    ::usleep(20000);
                }
            }
        }
    }
    CoRevokeClassObject(dwCookie);
    CoUninitialize();
    return nExit;
}
