// One connection attempt of a host-and-port connection dialog, made on a
// master of its own: the record is touched on the GUI thread only, and only
// when the attempt's outcome is still wanted.
#pragma once

#include <memory>

#include "Connection.h"

class CRemoteModbus;

// What a Modbus/TCP Security connection needs beyond host and port. The
// passphrase is held in memory only.
struct CTlsFiles {
    CString strCaFile;
    CString strCertFile;
    CString strKeyFile;
    CString strKeyPassphrase;
};

class CRemoteConnectAttempt {
public:
    // A new master of kind nType (2 to 5) takes pSettings' settings (null:
    // the defaults; a secured one's files too), then the host, port and
    // time-out given, reconnecting on.
    CRemoteConnectAttempt(WORD nType, const CRemoteModbus* pSettings, const CString& strHost,
                          WORD nPort, DWORD dwTimeout);
    // The same, of pSettings' own kind (null: Open Modbus).
    CRemoteConnectAttempt(const CRemoteModbus* pSettings, const CString& strHost, WORD nPort,
                          DWORD dwTimeout);
    ~CRemoteConnectAttempt();
    CRemoteConnectAttempt(const CRemoteConnectAttempt&) = delete;
    CRemoteConnectAttempt& operator=(const CRemoteConnectAttempt&) = delete;

    // The files (and passphrase) of a Modbus/TCP Security attempt; ignored
    // by the other kinds. Before Run.
    void SetTlsFiles(const CTlsFiles& files);

    // Blocks for up to the time-out.
    void Run();
    BOOL IsConnected() const { return m_bConnected; }
    // Why a failed attempt failed, as the master tells it.
    const CString& GetCause() const { return m_strCause; }
    // The attempt's own master, to be used as it is.
    CRemoteModbus& Master() const { return *m_pModbus; }
    // The record's master takes the settings and the connection.
    void InstallInto(CConnection& connection);
    // What a failed connection leaves on an edited record: the new time-out
    // and files, reconnecting on, no connection.
    void ApplyFailureTo(CConnection& connection) const;

private:
    std::unique_ptr<CRemoteModbus> m_pModbus;
    CTlsFiles m_tls;
    BOOL m_bConnected = FALSE;
    CString m_strCause;
};
