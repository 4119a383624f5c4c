// A Modbus/UDP slave for a CSimDevice: one Modbus/TCP frame per datagram,
// each answered to its sender with the request's transaction and protocol
// ids. One thread serves the socket, a request at a time, as a device does;
// a delayed answer holds back the requests behind it. A datagram that is no
// whole frame (protocol id other than 0, a length field that does not count
// the bytes after it) is dropped. Fault rules (SimFaults.h) alter chosen
// answers; a paced answer (split-header, byte-by-byte) goes out as a datagram
// per piece.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <functional>
#include <thread>

#include "SimDevice.h"
#include "SimFaults.h"
#include "platform/UniqueFd.h"
#include "wire/StopEvent.h"

class CSimUdpServer {
public:
    explicit CSimUdpServer(CSimDevice& device);
    ~CSimUdpServer();
    CSimUdpServer(const CSimUdpServer&) = delete;
    CSimUdpServer& operator=(const CSimUdpServer&) = delete;

    // Settings taking effect at the next Start; port 0 lets the system pick.
    void SetAddress(const CString& strAddress) { m_strAddress = strAddress; }
    void SetPort(WORD nPort) { m_nPort = nPort; }
    void SetLog(std::function<void(const CString&)> log) { m_log = std::move(log); }

    // Binds and starts serving; FALSE with GetError() on failure.
    BOOL Start();
    void Stop();
    BOOL IsRunning() const { return m_hSocket.IsValid(); }

    CString GetAddress() const { return m_strAddress; }
    WORD GetPort() const { return m_nPort; }
    CString GetError() const { return m_strError; }
    ULONGLONG GetRequestCount() const { return m_nRequests; }

    void AddFault(const CSimFaultRule& rule) { m_faults.Add(rule, m_nRequests); }
    void ClearFaults() { m_faults.Clear(); }

private:
    BOOL Fail(const CString& strWhat);
    void Serve();
    void Answer(const BYTE* pbFrame, size_t n, const sockaddr_in& from);
    void Log(const CString& strLine);

    CSimDevice& m_device;
    CSimFaults m_faults;
    CString m_strAddress = "127.0.0.1";
    WORD m_nPort = 0;
    std::function<void(const CString&)> m_log;
    CString m_strError;

    CUniqueFd m_hSocket;
    CStopEvent m_stop;
    std::thread m_thread;
    std::atomic<ULONGLONG> m_nRequests{0};
};
