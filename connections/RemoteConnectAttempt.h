// One connection attempt of the Remote Server dialog, made on a master of its
// own: the record is touched on the GUI thread only, and only when the
// attempt's outcome is still wanted.
#pragma once

#include <memory>

#include "Connection.h"

class CRemoteModbus;

class CRemoteConnectAttempt {
public:
    // The new master takes pSettings' settings (null: the defaults), then the
    // host, port and time-out given, reconnecting on.
    CRemoteConnectAttempt(const CRemoteModbus* pSettings, const CString& strHost, WORD nPort,
                          DWORD dwTimeout);
    ~CRemoteConnectAttempt();
    CRemoteConnectAttempt(const CRemoteConnectAttempt&) = delete;
    CRemoteConnectAttempt& operator=(const CRemoteConnectAttempt&) = delete;

    // Blocks for up to the time-out.
    void Run();
    BOOL IsConnected() const { return m_bConnected; }
    // Why a failed attempt failed, as the master tells it.
    const CString& GetCause() const { return m_strCause; }
    // The attempt's own master, to be used as it is.
    CRemoteModbus& Master() const { return *m_pModbus; }
    // The record's master takes the settings and the connection.
    void InstallInto(CConnection& connection);
    // What a failed connection leaves on an edited record: the new time-out,
    // reconnecting on, no connection.
    void ApplyFailureTo(CConnection& connection) const;

private:
    std::unique_ptr<CRemoteModbus> m_pModbus;
    BOOL m_bConnected = FALSE;
    CString m_strCause;
};
