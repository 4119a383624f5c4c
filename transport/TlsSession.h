// The client side of one TLS connection (1.2 or 1.3) to a device, over a
// connected TCP socket: the device's certificate is checked against a CA
// file and the host name or address, and the client's own certificate is
// presented when the device asks for one. No check can be switched off.
//
// Every wait, the handshake's included, keeps the deadline it is given: the
// handshake polls; a receive on a blocking socket blocks in the kernel by a
// time-out that ends early, and polls for the rest. Failures are thrown as
// CBlockingSocketException pointers whose m_strDetail says in the user's
// words which side refused what ("the device's certificate has expired",
// "the device refused our certificate (none given)").
#pragma once

#include <memory>

#include "BlockingSocket.h"

struct ssl_st;

class CTlsSession {
public:
    // The files a session is made from; an empty CA file means the CAs this
    // system trusts, an empty key file the certificate file's own key. Held
    // by reference, so that the passphrase is never copied.
    struct CFiles {
        const CString& strCaFile;
        const CString& strCertFile;
        const CString& strKeyFile;
        const CString& strPassphrase;
    };

    ~CTlsSession();
    CTlsSession(const CTlsSession&) = delete;
    CTlsSession& operator=(const CTlsSession&) = delete;

    // Runs the handshake on hSocket, connected to strHost, by the deadline;
    // nMillis is the time-out the deadline stands for, as the user set it.
    // On a kept connection a device that asked for our certificate is given
    // a moment to refuse it (TLS 1.3 tells that only after the handshake).
    static std::unique_ptr<CTlsSession> Connect(int hSocket, const CString& strHost,
                                                const CFiles& files, const CDeadline& deadline,
                                                int nMillis, bool bKept);

    // Sends all n bytes by the deadline; returns n.
    int Send(const BYTE* pb, int n, const CDeadline& deadline);
    // One receive of up to n bytes by the deadline; 0 when the device closed.
    int Receive(BYTE* pb, int n, const CDeadline& deadline);
    // Tells the device the connection ends, without waiting for anything.
    void Close();

    // TRUE when the PEM private key in the file is protected by a passphrase.
    static BOOL KeyNeedsPassphrase(const CString& strKeyFile);

    // What the callbacks note during the connection (defined with them).
    struct CState;

private:
    CTlsSession();
    // Throws what went wrong after rc from an SSL call, as the user reads it.
    [[noreturn]] void Fail(const char* pszOperation, int rc);
    // Waits for the event SSL_get_error(rc) asks for; throws at the deadline.
    void WaitFor(int rc, const char* pszOperation, const CDeadline& deadline);
    // Waits for the events on the socket; throws at the deadline.
    void Wait(short events, const char* pszOperation, const CDeadline& deadline);
    void Handshake(const CDeadline& deadline);
    void AwaitVerdict(const CDeadline& deadline);

    ssl_st* m_pSsl = nullptr;
    int m_hSocket = -1;
    int m_nMillis = 0;
    // The socket's receive time-out in force, -1 when unknown.
    int m_nReceiveTimeout = -1;
    std::unique_ptr<CState> m_pState;
};
