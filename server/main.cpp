// modbus-serial-server: the serial ports of this machine for Modbus masters,
// as an automation server other processes (and, with a key, other machines)
// activate. See --help.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "SerialPortFactory.h"
#include "ServerLog.h"
#include "ServerOptions.h"
#include "TcpGateway.h"
#include "ThreadScheduling.h"
#include "platform/com/ComApi.h"
#include "platform/com/ComPtr.h"
#include "platform/com/rpc/RpcFrame.h"
#include "platform/com/rpc/RpcServer.h"
#include "serialapi/ModbusSerialServerPs.h"

namespace {
using Clock = std::chrono::steady_clock;

enum EExit { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

CString HexResult(HRESULT hr) {
    char szText[16];
    std::snprintf(szText, sizeof szText, "0x%08X", static_cast<unsigned>(hr));
    return szText;
}

// Makes the registered class reachable from other processes: on this
// user's local socket, and over TCP when --listen asks for it. S_FALSE when
// another instance already serves the class.
HRESULT ExportClass(CRpcServer& server, const CServerOptions& opt) {
    HRESULT hr = RegisterModbusSerialServerPs();
    if (FAILED(hr)) {
        CServerLog::Error("cannot register the interfaces for remoting: " + HexResult(hr));
        return hr;
    }
    hr = server.ListenLocal(CLSID_ModbusSerialServer);
    if (hr == RPC_S_DUPLICATE_ENDPOINT_HR) {
        CServerLog::Info("another instance serves the ports already");
        return S_FALSE;
    }
    if (FAILED(hr)) {
        CServerLog::Error("cannot listen on the local socket: " + HexResult(hr));
        return hr;
    }
    if (!opt.m_strListen.empty()) {
        WORD nPort = 0;
        hr = server.ListenTcp(opt.m_strListen.c_str(), opt.m_strKeyFile.c_str(), &nPort);
        if (FAILED(hr)) {
            CServerLog::Error("cannot listen on " + opt.m_strListen + ": " + HexResult(hr) +
                              (hr == E_ACCESSDENIED ? " (key file missing, malformed or not "
                                                      "private)"
                                                    : ""));
            return hr;
        }
        // Whoever asked for port 0 needs to learn the one it got.
        std::printf("listening on %s port %u\n", opt.m_strListen.c_str(), unsigned(nPort));
        std::fflush(stdout);
    }
    return S_OK;
}

// Serves until a stop signal, or in --activated mode until nobody has used
// the server for the linger time.
void RunUntilDone(const CServerOptions& opt, const CSerialPorts& ports, const sigset_t& stop) {
    const auto linger = std::chrono::seconds(opt.m_nLingerSeconds);
    auto idleSince = Clock::now();
    for (;;) {
        timespec wait{0, 250 * 1000 * 1000};
        const int nSignal = ::sigtimedwait(&stop, nullptr, &wait);
        if (nSignal == SIGINT || nSignal == SIGTERM) {
            CServerLog::Info("stopping on signal " + std::to_string(nSignal));
            return;
        }
        if (!opt.m_bActivated) {
            continue;
        }
        if (!ports.IsIdle()) {
            idleSince = Clock::now();
        } else if (Clock::now() - idleSince >= linger) {
            CServerLog::Info("nobody uses the server any more; leaving");
            return;
        }
    }
}

// Registers the port factory, exports it and serves until done; the exit code.
int Serve(const CServerOptions& opt, const sigset_t& stop) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    auto pPorts = std::make_shared<CSerialPorts>(opt.m_portMap);
    DWORD dwCookie = 0;
    HRESULT hr;
    {
        // The registration keeps the factory alive from here on.
        CComPtr<CSerialPortFactory> pFactory;
        pFactory.Attach(new CSerialPortFactory(pPorts));
        hr = CoRegisterClassObject(CLSID_ModbusSerialServer, pFactory, CLSCTX_LOCAL_SERVER,
                                   REGCLS_MULTIPLEUSE, &dwCookie);
    }
    int nExit = EXIT_OK;
    if (FAILED(hr)) {
        CServerLog::Error("cannot register the class: " + HexResult(hr));
        nExit = EXIT_FAILED;
    } else {
        CRpcServer server;
        hr = ExportClass(server, opt);
        if (FAILED(hr)) {
            nExit = EXIT_FAILED;
        } else if (hr == S_OK) {
            RunUntilDone(opt, *pPorts, stop);
        }
        // Leaving the scope stops serving and releases every client's objects.
    }
    CoRevokeClassObject(dwCookie);
    pPorts.reset();
    CoUninitialize();
    return nExit;
}
}  // namespace

int main(int argc, char** argv) {
    CServerOptions opt;
    CString strError;
    switch (opt.Parse(argc, argv, strError)) {
        case CServerOptions::EParse::HELP:
            std::fputs(CServerOptions::HELP_TEXT, stdout);
            return EXIT_OK;
        case CServerOptions::EParse::BAD:
            std::fprintf(stderr, "modbus-serial-server: %s (see --help)\n", strError.c_str());
            return EXIT_USAGE;
        case CServerOptions::EParse::RUN:
            break;
    }
    CServerLog::SetLevel(opt.m_logLevel);
    CTcpGateway::SetIdleTimeout(std::chrono::seconds(opt.m_nGatewayIdleSeconds));
    for (int nPort = 1; nPort <= CPortMap::PORT_COUNT; ++nPort) {
        CServerLog::Debug("COM" + std::to_string(nPort) + " = " + opt.m_portMap.GetPath(nPort));
    }

    // Every thread inherits this mask: only the main thread takes the stop
    // signals, synchronously. A vanished peer must not kill the process.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    // Before any thread starts: they all inherit it.
    if (!CThreadScheduling::Start()) {
        CServerLog::Debug("threads keep ordinary scheduling");
    }
    return Serve(opt, stop);
}
