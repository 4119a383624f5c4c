// The Modbus/TCP side of a serial port: a listener whose requests go out on
// the port's line, one at a time with every other client of the port. The
// answer carries the request's transaction id and unit id. When the line
// cannot give an answer the client gets an exception answer instead:
//   0x0A (gateway path unavailable) when the port is not open or the device
//        went away;
//   0x0B (target device failed to respond) when nothing valid came back in
//        time, a wrong CRC or LRC included, since that device did not answer
//        usably either.
// A request to unit 0 is a broadcast and gets no answer. Requests may come
// split over segments or several in one; a malformed header closes that
// connection. At most MAX_CONNECTIONS clients are served at once: a client
// that has sent no request for the idle time-out is disconnected, and a new
// client at the limit takes the place of the oldest client that never sent
// a request, or when every one has, of the one idle longest.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "ServerObject.h"
#include "serialapi/ModbusSerialServer.h"
#include "wire/TcpListener.h"

class CSerialPort;

class CTcpGateway final : public CServerDispatchObject<IModbusTcpServer, IID_IModbusTcpServer> {
public:
    static constexpr size_t MAX_CONNECTIONS = 8;

    // For every gateway of the process; 0 keeps idle clients for ever.
    static void SetIdleTimeout(std::chrono::milliseconds idle);
    static std::chrono::milliseconds GetIdleTimeout();

    CTcpGateway(std::weak_ptr<CSerialPort> pPort, const CString& strName);
    CTcpGateway(const CTcpGateway&) = delete;
    CTcpGateway& operator=(const CTcpGateway&) = delete;

    HRESULT get_Address(BSTR* pVal) override;
    // A dotted IPv4 address; used at the next Start.
    HRESULT put_Address(BSTR newVal) override;
    // The port listened on once running (the one the system chose for 0).
    HRESULT get_Port(LONG* pVal) override;
    HRESULT put_Port(SHORT newVal) override;
    HRESULT Start(VARIANT_BOOL* pResult) override;
    HRESULT Stop(VARIANT_BOOL* pResult) override;
    HRESULT get_Running(VARIANT_BOOL* pVal) override;

    BOOL StartListening();
    // Closes the listener and every connection and joins their threads.
    void StopListening();
    BOOL IsRunning() const { return m_bRunning; }

private:
    using CConnection = CConnectionThreads::CConnection;

    ~CTcpGateway() override;
    // On the accepting thread: drops idle clients and counts the rest, and
    // makes room for a new client at the limit or turns it away.
    void DropIdle(CConnectionThreads& connections);
    bool Admit(CConnectionThreads& connections);
    void Serve(CConnection* pConnection);
    // Answers one complete request frame; false when the connection must end.
    bool HandleRequest(int hSocket, const BYTE* pbFrame, size_t nFrame);

    const std::weak_ptr<CSerialPort> m_pPort;
    const CString m_strName;

    // Guards the settings and starting and stopping.
    mutable std::mutex m_mutex;
    CString m_strAddress = "0.0.0.0";
    WORD m_nPort = 502;
    std::atomic<BOOL> m_bRunning{FALSE};
    CTcpListener m_listener;
    // Clients not dropped at the last count; only the accepting thread uses it.
    size_t m_nLive = 0;
};
