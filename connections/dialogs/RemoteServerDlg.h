// Remote Server Connection, dialog 133: creates an Open Modbus connection
// named "address:port", or changes the time-out of one; it closes only once
// the connection's socket is connected.
#pragma once

#include "platform/ui/Dialog.h"

class CConnection;
class QLineEdit;

class CRemoteServerDlg : public CDialog {
    Q_OBJECT

public:
    explicit CRemoteServerDlg(QWidget* pParent = nullptr);

    void SetConnection(CConnection* pConnection) { m_pConnection = pConnection; }
    CConnection* GetConnection() const { return m_pConnection; }

    BOOL m_bNew = FALSE;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;

    void OnOkButton();
    // TRUE when the dialog may close.
    BOOL ApplyAndConnect();
    void FillFromConnection();

    QLineEdit* m_editTimeout = nullptr;
    QLineEdit* m_editPort = nullptr;
    QLineEdit* m_editAddress = nullptr;
    CConnection* m_pConnection = nullptr;
};
