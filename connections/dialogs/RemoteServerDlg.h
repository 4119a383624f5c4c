// Remote Server Connection, dialog 133: creates an Open Modbus connection
// named "address:port", or changes the time-out of one; it closes only once
// the connection's socket is connected. The connection is made off the GUI
// thread; meanwhile the dialog shows that it is connecting and Cancel
// abandons the attempt.
#pragma once

#include <memory>

#include "ConnectingIndicator.h"
#include "platform/ui/Dialog.h"

class CConnection;
class CJobWatch;
class CRemoteConnectAttempt;
class QLineEdit;

class CRemoteServerDlg : public CDialog {
    Q_OBJECT

public:
    // Ten minutes; anything longer is a typing slip, not a slow network.
    static constexpr long MAX_TIMEOUT = 600000;

    explicit CRemoteServerDlg(QWidget* pParent = nullptr);
    ~CRemoteServerDlg() override;

    void SetConnection(CConnection* pConnection) { m_pConnection = pConnection; }
    CConnection* GetConnection() const { return m_pConnection; }
    bool IsConnecting() const { return m_pWatch != nullptr; }

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
    CConnection* m_pConnection = nullptr;

private:
    // Both dropped the moment the attempt is no longer wanted.
    std::shared_ptr<CRemoteConnectAttempt> m_pAttempt;
    std::unique_ptr<CJobWatch> m_pWatch;
    CString m_strNewName;
    CConnectingIndicator m_connecting;
};
