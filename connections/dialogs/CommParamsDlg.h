// Communications Parameters, dialog 130: creates a Local/DCom connection
// (server machine and port make its name) or edits one. The settings live in
// the automation server: the dialog reads them from it and writes them to it.
// The server is reached off the GUI thread; meanwhile the dialog shows that
// it is connecting, and Cancel abandons the attempt.
#pragma once

#include <memory>

#include "ConnectingIndicator.h"
#include "connections/SerialSettingsJob.h"
#include "platform/ui/Dialog.h"

class CConnection;
class CJobWatch;
class QCheckBox;
class QComboBox;
class QLineEdit;

class CCommParamsDlg : public CDialog {
    Q_OBJECT

public:
    explicit CCommParamsDlg(QWidget* pParent = nullptr);
    ~CCommParamsDlg() override;

    void SetConnection(CConnection* pConnection) { m_pConnection = pConnection; }
    CConnection* GetConnection() const { return m_pConnection; }
    bool IsConnecting() const { return m_pWatch != nullptr; }

    BOOL m_bNew = FALSE;

protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
    void DoDataExchange(CDataExchange* pDX) override;

    void OnOk();
    void OnFindIp();
    void FillLists();
    // Starts reading the edited connection's settings from the server.
    void ReadFromServer();
    // Checks the name and starts reaching the server; FALSE when refused.
    BOOL Apply();

    QLineEdit* m_editErrorDelay = nullptr;
    QCheckBox* m_checkTcpServer = nullptr;
    QLineEdit* m_editServer = nullptr;
    QLineEdit* m_editTcpPort = nullptr;
    QLineEdit* m_editTcpAddress = nullptr;
    QCheckBox* m_checkActive = nullptr;
    QLineEdit* m_editSilentInterval = nullptr;
    QLineEdit* m_editTimeout = nullptr;
    QComboBox* m_comboByteSize = nullptr;
    QComboBox* m_comboStopBits = nullptr;
    QComboBox* m_comboParity = nullptr;
    QComboBox* m_comboPort = nullptr;
    QComboBox* m_comboBaudRate = nullptr;
    BOOL m_bDtrDsr = FALSE;
    BOOL m_bRtsCts = FALSE;
    BOOL m_bXonXoff = FALSE;
    CConnection* m_pConnection = nullptr;

private:
    void StartPhase(CSerialSettingsJob::EPhase phase);
    void OnJobDone();
    void OnCreated(const std::shared_ptr<CSerialSettingsJob>& pJob);
    void OnWritten(const std::shared_ptr<CSerialSettingsJob>& pJob);
    // The failure exit: a new connection has no record.
    void Fail();
    // Drops the job: a running one is abandoned, a finished one discarded.
    void DropJob();
    void ShowValues(const CSerialPortValues& v, const CString& strServer);
    // The values to write and, when one is refused, the first refusal's text.
    CSerialPortWrite CollectWrite(CString* pstrRefusal);
    void ShowConnecting(bool bConnecting);

    std::shared_ptr<CSerialSettingsJob> m_pJob;
    std::unique_ptr<CJobWatch> m_pWatch;
    CSerialSettingsJob::EPhase m_phase = CSerialSettingsJob::READ;
    CSerialPortWrite m_write;
    CString m_strRefusal;
    CString m_strNewName;
    CString m_strNewServer;
    CConnectingIndicator m_connecting;
};
