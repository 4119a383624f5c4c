// A Modbus/TCP slave for a CSimDevice: one thread accepts, one thread serves
// each connection. Requests may arrive in any number of segments and several
// in one; each answer carries its request's transaction and protocol ids.
// A malformed header (protocol id other than 0, length below 2 or above 254)
// closes the connection. Fault rules (SimFaults.h) alter chosen answers.
// With RTU framing the connections carry RTU frames instead, as behind a
// serial-to-Ethernet converter: a request ends where its function's length
// says (or, for a function that does not say, with a pause), and one with a
// wrong CRC is dropped unanswered, as on a serial line. With a TLS side set,
// every connection is Modbus/TCP inside TLS.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "SimAnswer.h"
#include "SimDevice.h"
#include "SimFaults.h"
#include "wire/FrameParser.h"
#include "wire/TcpListener.h"

class CByteStream;
class CSimTls;

class CSimTcpServer {
public:
    static constexpr size_t DEFAULT_MAX_CONNECTIONS = 16;
    // The pause that ends an RTU request whose function gives no length.
    static constexpr int RTU_QUIET_MS = 20;

    enum class EFraming { MBAP, RTU };

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
    void SetFraming(EFraming framing) { m_framing = framing; }
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

    using Frame = std::function<CByteArray(const CSimAnswer& answer)>;

    void Serve(CConnection* pConnection);
    void ServeRtu(CConnection* pConnection);
    // What became of the RTU request that the parser's state ends, if any.
    enum class ETake { MORE, ANSWERED, DROPPED, END };
    ETake TakeRtu(CConnection* pConnection, CByteStream& stream, CFrameParser& parser,
                  CFrameParser::EState state);
    // The connection's stream: the socket, or TLS over it once the handshake
    // is through; null (and logged) when that fails.
    std::unique_ptr<CByteStream> OpenStream(int hSocket, const CString& strName);
    // Answers the complete request frame; false when the connection must end.
    bool HandleRequest(CConnection* pConnection, CByteStream& stream, const BYTE* frame,
                       size_t nFrame);
    // Answers the request pdu[0..n) for unit on link, framed by frame, on
    // stream; false when the connection must end.
    bool Answer(CConnection* pConnection, CByteStream& stream, CSimAnswer::ELink link, BYTE unit,
                const BYTE* pdu, size_t n, const Frame& frame);
    void Log(const CString& strLine);

    CSimDevice& m_device;
    CSimFaults m_faults;
    CString m_strAddress = "127.0.0.1";
    WORD m_nPort = 0;
    size_t m_nMaxConnections = DEFAULT_MAX_CONNECTIONS;
    EFraming m_framing = EFraming::MBAP;
    std::function<void(const CString&)> m_log;
    std::shared_ptr<const CSimTls> m_pTls;

    CTcpListener m_listener;
    std::atomic<ULONGLONG> m_nRequests{0};
};
