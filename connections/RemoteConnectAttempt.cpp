#include "RemoteConnectAttempt.h"

#include <typeinfo>

#include "transport/RemoteModbus.h"
#include "transport/TlsModbus.h"

namespace {
// The files into a Modbus/TCP Security master; nothing for another kind.
void ApplyTlsFiles(CRemoteModbus& modbus, const CTlsFiles& files) {
    auto* pTls = dynamic_cast<CTlsModbus*>(&modbus);
    if (pTls != nullptr) {
        pTls->SetCaFile(files.strCaFile);
        pTls->SetCertFile(files.strCertFile);
        pTls->SetKeyFile(files.strKeyFile);
        pTls->SetKeyPassphrase(files.strKeyPassphrase);
    }
}
}  // namespace

CRemoteConnectAttempt::CRemoteConnectAttempt(WORD nType, const CRemoteModbus* pSettings,
                                             const CString& strHost, WORD nPort, DWORD dwTimeout)
    : m_pModbus(NewHostModbus(nType)) {
    if (m_pModbus == nullptr) {
        m_pModbus.reset(new CRemoteModbus);  // never offered; fails as a plain master would
    }
    CRemoteModbus& m = *m_pModbus;
    if (pSettings != nullptr) {
        // Field by field: storing a master would connect it.
        m.m_nTries = pSettings->m_nTries;
        m.m_dwLockTimeout = pSettings->m_dwLockTimeout;
        m.m_dwReserved = pSettings->m_dwReserved;
        m.m_bThrowOnError = pSettings->m_bThrowOnError;
        m.m_bMapServerErrors = pSettings->m_bMapServerErrors;
        m.m_byServerErrorBase = pSettings->m_byServerErrorBase;
        if (const auto* pTls = dynamic_cast<const CTlsModbus*>(pSettings)) {
            m_tls.strCaFile = pTls->GetCaFile();
            m_tls.strCertFile = pTls->GetCertFile();
            m_tls.strKeyFile = pTls->GetKeyFile();
            ApplyTlsFiles(m, m_tls);
        }
    }
    m.SetTimeout(dwTimeout);
    m.SetHost(strHost);
    m.SetPort(nPort);
    m.SetReconnect(TRUE);
}

CRemoteConnectAttempt::CRemoteConnectAttempt(const CRemoteModbus* pSettings, const CString& strHost,
                                             WORD nPort, DWORD dwTimeout)
    : CRemoteConnectAttempt(
          pSettings != nullptr ? HostModbusKind(*pSettings) : WORD(CONNECTION_OPEN_MODBUS),
          pSettings, strHost, nPort, dwTimeout) {}

CRemoteConnectAttempt::~CRemoteConnectAttempt() = default;

void CRemoteConnectAttempt::SetTlsFiles(const CTlsFiles& files) {
    m_tls = files;
    ApplyTlsFiles(*m_pModbus, m_tls);
}

void CRemoteConnectAttempt::Run() {
    m_bConnected = m_pModbus->Connect(CString(), 0, 0);
    if (!m_bConnected) {
        m_strCause = m_pModbus->GetLastCause();
    }
}

void CRemoteConnectAttempt::InstallInto(CConnection& connection) {
    CRemoteModbus* pTarget = connection.GetRemoteModbus();
    // A connection moves only between masters of one kind.
    if (pTarget == nullptr || typeid(*pTarget) != typeid(*m_pModbus.get())) {
        return;
    }
    // The record keeps its own master, which others may point at; only the
    // settings and the connection move into it.
    CSingleLock lock(&pTarget->m_lock);
    lock.Lock(pTarget->m_dwLockTimeout);
    pTarget->Disconnect();
    ApplyTlsFiles(*pTarget, m_tls);
    pTarget->AdoptConnection(*m_pModbus);
    pTarget->SetHost(m_pModbus->GetHost());
    pTarget->SetPort(m_pModbus->GetPort());
    pTarget->SetTimeout(m_pModbus->GetTimeout());
    pTarget->SetReconnect(TRUE);
}

void CRemoteConnectAttempt::ApplyFailureTo(CConnection& connection) const {
    CRemoteModbus* pModbus = connection.GetRemoteModbus();
    if (pModbus != nullptr) {
        pModbus->SetTimeout(m_pModbus->GetTimeout());
        pModbus->SetReconnect(TRUE);
        pModbus->Disconnect();
        ApplyTlsFiles(*pModbus, m_tls);
    }
}
