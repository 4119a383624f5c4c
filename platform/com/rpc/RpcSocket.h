// One stream socket of the remoting layer (Unix-domain or TCP), closed when
// destroyed, with whole-frame sends and receives under a time limit.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RpcFrameWriter.h"
#include "RpcTls.h"
#include "platform/Deadline.h"

class CRpcAccessKey;

class CRpcSocket {
public:
    enum EReceive { RECEIVE_OK, RECEIVE_CLOSED, RECEIVE_TIMEOUT, RECEIVE_MALFORMED };

    CRpcSocket() = default;
    explicit CRpcSocket(int hSocket) : m_hSocket(hSocket) {}
    ~CRpcSocket() { Close(); }
    CRpcSocket(const CRpcSocket&) = delete;
    CRpcSocket& operator=(const CRpcSocket&) = delete;
    CRpcSocket(CRpcSocket&& other) noexcept
        : m_hSocket(other.m_hSocket),
          m_pTls(std::move(other.m_pTls)),
          m_input(std::move(other.m_input)) {
        other.m_hSocket = -1;
        other.m_input.clear();
    }
    CRpcSocket& operator=(CRpcSocket&& other) noexcept;

    bool IsOpen() const { return m_hSocket >= 0; }
    int GetHandle() const { return m_hSocket; }
    void Close();
    // Ends both directions; a thread blocked reading the socket wakes up.
    void Shutdown();

    // Waits are in milliseconds or until a deadline; a negative wait has no
    // limit (the reader threads, which Shutdown wakes).
    bool SendAll(const BYTE* pb, size_t n, int nMillis);
    bool SendAll(const BYTE* pb, size_t n, const CDeadline& deadline);
    // Seals and sends the frame; false when it is too large or not sent whole.
    bool SendFrame(CRpcFrameWriter& frame, int nMillis);
    bool SendFrame(CRpcFrameWriter& frame, const CDeadline& deadline);
    EReceive ReceiveFrame(std::vector<BYTE>& body, int nMillis);
    EReceive ReceiveFrame(std::vector<BYTE>& body, const CDeadline& deadline);
    // A wait of nMillis as a deadline: never for a negative wait.
    static CDeadline DeadlineOf(int nMillis);

    // Connects to a Unix-domain socket; returns 0 or the errno of the failure.
    int ConnectUnix(const std::string& strPath);
    // Connects over TCP within nMillis; returns 0 or the errno of the failure.
    int ConnectTcp(const sockaddr_in& addr, int nMillis);
    // The user id of the process at the other end of a Unix-domain socket.
    bool GetPeerUid(uid_t* pUid) const;
    // Keep-alive probes and no small-packet delay for TCP connections.
    void SetTcpOptions();
    // Puts TLS keyed by the key under every later transfer (see RpcTls.h,
    // also for keyProved), with nothing buffered yet; the failure is the
    // handshake's.
    HRESULT StartTls(const CRpcAccessKey& key, bool bServer, int nMillis, size_t nMaxHandshakeBytes,
                     const std::function<bool()>& keyProved = {});
    bool IsTls() const { return m_pTls != nullptr; }

private:
    // Reads until at least n bytes are buffered.
    bool Fill(size_t n, const CDeadline& deadline, bool* pbClosed);
    // TLS holds bytes (or a failure) that a read takes without waiting.
    bool HasPending();

    // Bytes of one call into the transport: raw or through TLS. As recv and
    // send, but -1 always means "wait for *pEvents" and 0 "over".
    ssize_t Receive(BYTE* pb, size_t n, short* pEvents);
    ssize_t Send(const BYTE* pb, size_t n, short* pEvents);

    int m_hSocket = -1;
    std::unique_ptr<CRpcTls> m_pTls;
    // Read ahead of the frames taken, so that a frame usually costs one recv.
    std::vector<BYTE> m_input;
};
