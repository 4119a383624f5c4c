// A Modbus/TCP slave for a CSimDevice: one thread accepts, one thread serves
// each connection. Requests may arrive in any number of segments and several
// in one; each answer carries its request's transaction and protocol ids.
// A malformed header (protocol id other than 0, length below 2 or above 254)
// closes the connection. Fault rules (SimFaults.h) alter chosen answers.
// With a TLS side set, every connection is Modbus/TCP inside TLS.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "SimDevice.h"
#include "SimFaults.h"
#include "wire/TcpListener.h"

class CByteStream;
class CSimTls;

class CSimTcpServer {
public:
    static constexpr size_t DEFAULT_MAX_CONNECTIONS = 16;

    explicit CSimTcpServer(CSimDevice& device);
    ~CSimTcpServer();
    CSimTcpServer(const CSimTcpServer&) = delete;
    CSimTcpServer& operator=(const CSimTcpServer&) = delete;

    // Settings taking effect at the next Start. The address is a dotted IPv4
    // address; port 0 lets the system pick one.
    void SetAddress(const CString& strAddress) { m_strAddress = strAddress; }
    void SetPort(WORD nPort) { m_nPort = nPort; }
    // Connections beyond this many at once are closed as soon as accepted.
    void SetMaxConnections(size_t nMax) { m_nMaxConnections = nMax; }
    // Receives one line per event; called from the serving threads.
    void SetLog(std::function<void(const CString&)> log) { m_log = std::move(log); }
    // Serves inside TLS made by pTls; null serves plain Modbus/TCP.
    void SetTls(std::shared_ptr<const CSimTls> pTls) { m_pTls = std::move(pTls); }

    // Binds, listens and starts serving; FALSE with GetError() on failure.
    BOOL Start();
    // Closes the listener and every connection and joins every thread.
    void Stop();
    BOOL IsRunning() const { return m_listener.IsRunning(); }

    CString GetAddress() const { return m_strAddress; }
    // The bound port once started.
    WORD GetPort() const { return m_nPort; }
    CString GetError() const { return m_listener.GetError(); }

    ULONGLONG GetRequestCount() const { return m_nRequests; }
    ULONGLONG GetConnectionCount() const { return m_listener.GetAcceptedCount(); }

    // Rules may be changed while serving.
    void AddFault(const CSimFaultRule& rule) { m_faults.Add(rule, m_nRequests); }
    void ClearFaults() { m_faults.Clear(); }

private:
    using CConnection = CConnectionThreads::CConnection;

    void Serve(CConnection* pConnection);
    // The connection's stream: the socket, or TLS over it once the handshake
    // is through; null (and logged) when that fails.
    std::unique_ptr<CByteStream> OpenStream(int hSocket, const CString& strName);
    // Answers the complete request frame; false when the connection must end.
    bool HandleRequest(CConnection* pConnection, CByteStream& stream, const BYTE* frame,
                       size_t nFrame);
    void Log(const CString& strLine);

    CSimDevice& m_device;
    CSimFaults m_faults;
    CString m_strAddress = "127.0.0.1";
    WORD m_nPort = 0;
    size_t m_nMaxConnections = DEFAULT_MAX_CONNECTIONS;
    std::function<void(const CString&)> m_log;
    std::shared_ptr<const CSimTls> m_pTls;

    CTcpListener m_listener;
    std::atomic<ULONGLONG> m_nRequests{0};
};
