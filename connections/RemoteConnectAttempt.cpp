#include "RemoteConnectAttempt.h"

#include "transport/RemoteModbus.h"

CRemoteConnectAttempt::CRemoteConnectAttempt(const CRemoteModbus* pSettings, const CString& strHost,
                                             WORD nPort, DWORD dwTimeout)
    : m_pModbus(std::make_unique<CRemoteModbus>()) {
    CRemoteModbus& m = *m_pModbus;
    if (pSettings != nullptr) {
        // Field by field: storing a master would connect it.
        m.m_nTries = pSettings->m_nTries;
        m.m_dwLockTimeout = pSettings->m_dwLockTimeout;
        m.m_dwReserved = pSettings->m_dwReserved;
        m.m_bThrowOnError = pSettings->m_bThrowOnError;
        m.m_bMapServerErrors = pSettings->m_bMapServerErrors;
        m.m_byServerErrorBase = pSettings->m_byServerErrorBase;
    }
    m.SetTimeout(dwTimeout);
    m.SetHost(strHost);
    m.SetPort(nPort);
    m.SetReconnect(TRUE);
}

CRemoteConnectAttempt::~CRemoteConnectAttempt() = default;

void CRemoteConnectAttempt::Run() {
    m_bConnected = m_pModbus->Connect(CString(), 0, 0);
    if (!m_bConnected) {
        m_strCause = m_pModbus->GetLastCause();
    }
}

void CRemoteConnectAttempt::InstallInto(CConnection& connection) {
    CRemoteModbus* pTarget = connection.GetRemoteModbus();
    if (pTarget == nullptr) {
        return;
    }
    // The record keeps its own master, which others may point at; only the
    // settings and the connected socket move into it.
    CSingleLock lock(&pTarget->m_lock);
    lock.Lock(pTarget->m_dwLockTimeout);
    pTarget->Disconnect();
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
    }
}
