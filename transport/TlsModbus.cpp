#include "TlsModbus.h"

#include <openssl/crypto.h>

#include "TlsSession.h"
#include "platform/Archive.h"

IMPLEMENT_DYNAMIC(CTlsModbus, CRemoteModbus)

CTlsModbus::CTlsModbus() {
    m_nPort = DEFAULT_PORT;
    m_addrPeer.sin_port = htons(DEFAULT_PORT);
    m_addrLocal.sin_port = htons(DEFAULT_PORT);
}

CTlsModbus::~CTlsModbus() {
    // The base's destructor would close only the socket under the session.
    Disconnect();
    CloseStream();
    ForgetPassphrase();
}

void CTlsModbus::ForgetPassphrase() {
    if (!m_strPassphrase.empty()) {
        OPENSSL_cleanse(m_strPassphrase.data(), m_strPassphrase.size());
    }
    m_strPassphrase.clear();
}

void CTlsModbus::SetKeyPassphrase(const CString& strPassphrase) {
    CSingleLock lock(&m_lock);
    lock.Lock(m_dwLockTimeout);
    ForgetPassphrase();
    m_strPassphrase = strPassphrase;
}

BOOL CTlsModbus::KeyNeedsPassphrase(const CString& strKeyFile) {
    return CTlsSession::KeyNeedsPassphrase(strKeyFile);
}

CString CTlsModbus::TrafficLabel() const {
    return "tls " + m_strHost + ":" + std::to_string(m_nPort);
}

void CTlsModbus::OpenStream(const SOCKADDR_IN& sa, const CDeadline& deadline, BOOL bKept) {
    // Connected and shaken hands by the deadline either way: a request can
    // go out only once the device has proved who it is.
    m_socket.Create(SOCK_STREAM);
    m_socket.Connect(sa, deadline);
    m_socket.SetNoDelay();
    const CTlsSession::CFiles files{m_strCaFile, m_strCertFile, m_strKeyFile, m_strPassphrase};
    m_pSession = CTlsSession::Connect(m_socket.m_hSocket, m_strHost, files, deadline,
                                      EffectiveTimeout(), bKept != FALSE);
}

int CTlsModbus::SendFrame(const BYTE* pb, int n, const CDeadline& deadline) {
    return m_pSession->Send(pb, n, deadline);
}

int CTlsModbus::ReceiveSome(BYTE* pb, int n, const CDeadline& deadline) {
    return m_pSession->Receive(pb, n, deadline);
}

void CTlsModbus::CloseStream() {
    if (m_pSession) {
        m_pSession->Close();
        m_pSession.reset();
    }
    CRemoteModbus::CloseStream();
}

void CTlsModbus::AdoptConnection(CRemoteModbus& from) {
    CRemoteModbus::AdoptConnection(from);
    if (auto* pFrom = dynamic_cast<CTlsModbus*>(&from)) {
        std::swap(m_pSession, pFrom->m_pSession);
    }
}

void CTlsModbus::WriteSettings(CArchive& ar) {
    CRemoteModbus::WriteSettings(ar);
    ar << m_strCaFile << m_strCertFile << m_strKeyFile;
}

void CTlsModbus::Load(CArchive& ar, ELoad mode) {
    CRemoteModbus::Load(ar, ELoad::VALUES_ONLY);
    ar >> m_strCaFile >> m_strCertFile >> m_strKeyFile;
    if (mode == ELoad::CONNECT) {
        Connect(CString(), 0, 0);
    }
}
