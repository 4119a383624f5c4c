// A TCP listener and its serving threads: binds a dotted IPv4 address, one
// thread accepts and each accepted connection is served on a thread of its
// own until the listener stops. The owner decides, through its hooks, whom
// to admit and how to serve; the listener does the sockets, the wake-ups
// and the clean-up.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "ConnectionThreads.h"
#include "StopEvent.h"
#include "platform/UniqueFd.h"

class CTcpListener {
public:
    using CConnection = CConnectionThreads::CConnection;

    class CHooks {
    public:
        // On the accepting thread at each wake-up, after ended connections
        // were reaped (at least every REAP_INTERVAL_MS).
        std::function<void(CConnectionThreads& connections)> onTick;
        // Whether to serve the connection numbered nId from strPeer
        // ("address:port"); refused ones are closed at once.
        std::function<bool(CConnectionThreads& connections, ULONGLONG nId, const CString& strPeer)>
            admit;
        // Serves one connection on its own thread; it should return once
        // GetStopEvent() becomes readable.
        CConnectionThreads::Serve serve;
    };

    static constexpr int REAP_INTERVAL_MS = 250;
    // A client that stops reading must not hold a serving thread for ever.
    static constexpr int SEND_TIMEOUT_MS = 2000;

    CTcpListener() = default;
    ~CTcpListener() { Stop(); }
    CTcpListener(const CTcpListener&) = delete;
    CTcpListener& operator=(const CTcpListener&) = delete;

    // Listens on strAddress:nPort (port 0: the system picks one) and starts
    // accepting. FALSE with GetError() ("bind 1.2.3.4:502: Address already
    // in use" and the like) when it cannot.
    BOOL Start(const CString& strAddress, WORD nPort, CHooks hooks);
    // Wakes every thread, joins them and closes every socket; false when
    // the wake-up could not be sent.
    bool Stop();
    BOOL IsRunning() const { return m_hListen.IsValid(); }

    // The port bound once started.
    WORD GetPort() const { return m_nPort; }
    const CString& GetError() const { return m_strError; }
    // Connections accepted so far, refused ones included.
    ULONGLONG GetAcceptedCount() const { return m_nAccepted; }
    // Readable once Stop is under way.
    const CStopEvent& GetStopEvent() const { return m_stop; }

private:
    BOOL Fail(const CString& strWhat);
    void AcceptLoop();
    void AcceptOne();

    CHooks m_hooks;
    CStopEvent m_stop;
    CUniqueFd m_hListen;
    WORD m_nPort = 0;
    CString m_strError;
    std::atomic<ULONGLONG> m_nAccepted{0};
    std::thread m_acceptThread;
    CConnectionThreads m_connections;
};
