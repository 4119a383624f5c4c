// Communications Parameters, dialog 130: creates a Local/DCom connection
// (server machine and port make its name) or edits one. The settings live in
// the automation server: the dialog reads them from it and writes them to it.
#pragma once

#include "platform/ui/Dialog.h"

class CAutoModbus;
class CConnection;
class QCheckBox;
class QComboBox;
class QLineEdit;

class CCommParamsDlg : public CDialog {
    Q_OBJECT

public:
    explicit CCommParamsDlg(QWidget* pParent = nullptr);

    void SetConnection(CConnection* pConnection) { m_pConnection = pConnection; }
    CConnection* GetConnection() const { return m_pConnection; }

    BOOL m_bNew = FALSE;

protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
    void DoDataExchange(CDataExchange* pDX) override;

    void OnOk();
    void OnFindIp();
    void FillLists();
    void ReadFromServer();
    // TRUE only when everything was written and the port opened.
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
    // The failure exit: a new connection goes again.
    BOOL Fail(const CString& strName);
    BOOL CreateRecord(CString& strName);
    BOOL WriteLineSettings(CAutoModbus* pAuto);
    BOOL ApplyTcpServer(CAutoModbus* pAuto);
};
