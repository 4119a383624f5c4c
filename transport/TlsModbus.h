// The Modbus/TCP Security master: Modbus/TCP frames inside TLS (1.2 or 1.3)
// with mutual authentication. The device's certificate is checked against
// the CA file and the host name or address; the client's certificate and
// private key (PEM) are presented. No check can be switched off. The
// exchange, its deadline and reconnection are the Modbus/TCP master's; the
// handshake keeps the connection's deadline, or the exchange's when every
// request reconnects.
#pragma once

#include <memory>

#include "RemoteModbus.h"

class CTlsSession;

class CTlsModbus : public CRemoteModbus {
    DECLARE_DYNAMIC(CTlsModbus)

public:
    static constexpr WORD DEFAULT_PORT = 802;

    CTlsModbus();
    ~CTlsModbus() override;

    // The base's part, then the CA, certificate and key files. The
    // passphrase is never stored. Storing connects as the base's does.
    void WriteSettings(CArchive& ar) override;
    void Load(CArchive& ar, ELoad mode) override;

    void SetCaFile(const CString& strPath) { m_strCaFile = strPath; }
    CString GetCaFile() const { return m_strCaFile; }
    void SetCertFile(const CString& strPath) { m_strCertFile = strPath; }
    CString GetCertFile() const { return m_strCertFile; }
    void SetKeyFile(const CString& strPath) { m_strKeyFile = strPath; }
    CString GetKeyFile() const { return m_strKeyFile; }
    // Held in memory only, for a key file that needs one.
    void SetKeyPassphrase(const CString& strPassphrase);
    // TRUE when the PEM private key in the file is protected by a
    // passphrase, so that the caller asks for it.
    static BOOL KeyNeedsPassphrase(const CString& strKeyFile);

    void AdoptConnection(CRemoteModbus& from) override;

    CString m_strCaFile;
    CString m_strCertFile;
    CString m_strKeyFile;

protected:
    CString TrafficLabel() const override;
    void OpenStream(const SOCKADDR_IN& sa, const CDeadline& deadline, BOOL bKept) override;
    int SendFrame(const BYTE* pb, int n, const CDeadline& deadline) override;
    int ReceiveSome(BYTE* pb, int n, const CDeadline& deadline) override;
    void CloseStream() override;

private:
    void ForgetPassphrase();

    CString m_strPassphrase;
    std::unique_ptr<CTlsSession> m_pSession;
};
