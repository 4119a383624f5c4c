// The connection dialog of the kinds that reach a device by host and port:
// Remote Server Connection (dialog 133) for Open Modbus, and the same
// controls for RTU over TCP and Modbus/UDP under their own titles; Modbus/TCP
// Security Connection (dialog 135) adds the CA certificate, the client
// certificate and its private key. It creates a connection named
// "address:port" (prefixed by the kind for the newer kinds), or changes the
// time-out (and files) of one; it closes only once the connection is made.
// The connection is made off the GUI thread; meanwhile the dialog shows that
// it is connecting and Cancel abandons the attempt.
#pragma once

#include <memory>

#include "ConnectingIndicator.h"
#include "connections/Connection.h"
#include "platform/ui/Dialog.h"

class CJobWatch;
class CRemoteConnectAttempt;
struct CTlsFiles;
class QLineEdit;

class CRemoteServerDlg : public CDialog {
    Q_OBJECT

public:
    // Ten minutes; anything longer is a typing slip, not a slow network.
    static constexpr long MAX_TIMEOUT = 600000;

    // An Open Modbus connection.
    explicit CRemoteServerDlg(QWidget* pParent = nullptr);
    // A connection of kind nType, 2 to 5.
    CRemoteServerDlg(WORD nType, QWidget* pParent);
    ~CRemoteServerDlg() override;

    void SetConnection(CConnection* pConnection) { m_pConnection = pConnection; }
    CConnection* GetConnection() const { return m_pConnection; }
    bool IsConnecting() const { return m_pWatch != nullptr; }
    WORD GetType() const { return m_nType; }

    // The title of kind nType's dialog: "Remote Server Connection", "RTU
    // over TCP Connection", "Modbus/UDP Connection", "Modbus/TCP Security
    // Connection".
    static CString TitleOf(WORD nType);
    // The name a new record of kind nType gets: "host:port" for Open Modbus,
    // "rtu-over-tcp:host:port", "udp:host:port", "tls:host:port" for the
    // others.
    static CString NameOf(WORD nType, const CString& strHost, const CString& strPort);

    BOOL m_bNew = FALSE;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnCancel() override;

    void OnOkButton();
    // Checks the fields and starts connecting; FALSE when they are refused.
    BOOL ApplyAndConnect();
    void OnConnectDone();
    void ShowConnecting(const CString& strTarget);
    void FillFromConnection();

    QLineEdit* m_editTimeout = nullptr;
    QLineEdit* m_editPort = nullptr;
    QLineEdit* m_editAddress = nullptr;
    // Modbus/TCP Security only.
    QLineEdit* m_editCaFile = nullptr;
    QLineEdit* m_editCertFile = nullptr;
    QLineEdit* m_editKeyFile = nullptr;
    CConnection* m_pConnection = nullptr;

private:
    bool IsTls() const { return m_nType == CONNECTION_TLS; }
    // A file chosen with the open dialog into the edit.
    void Browse(QLineEdit* pEdit, const char* pszFilter);
    // The three files, checked, and the key's passphrase when the key is
    // encrypted; FALSE, after saying why, when they cannot be used or the
    // passphrase was not given.
    BOOL TakeTlsFiles(CTlsFiles& files);

    WORD m_nType;
    // Both dropped the moment the attempt is no longer wanted.
    std::shared_ptr<CRemoteConnectAttempt> m_pAttempt;
    std::unique_ptr<CJobWatch> m_pWatch;
    CString m_strNewName;
    CConnectingIndicator m_connecting;
};
