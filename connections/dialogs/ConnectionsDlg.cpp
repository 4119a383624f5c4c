#include "ConnectionsDlg.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include "CommParamsDlg.h"
#include "RemoteServerDlg.h"
#include "connections/ConfigFile.h"
#include "platform/ui/Controls.h"
#include "platform/ui/MessageBox.h"
#include "res/Resource.h"

CConnectionsDlg::CConnectionsDlg(QWidget* pParent) : CDialog(IDD_CONNECTIONS, pParent) {
    MapCommand(IDC_BUTTON_ADD, [this] { OnAdd(); });
    MapCommand(IDC_BUTTON_EDIT, [this] { OnEdit(); });
    MapCommand(IDC_BUTTON_REMOVE, [this] { OnRemove(); });
    MapCommand(IDC_BUTTON_SAVE, [this] { OnSave(); });
    MapCommand(IDC_BUTTON_LOAD, [this] { OnLoad(); });
}

void CConnectionsDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LIST_CONNECTIONS, m_listConnections);
    DDX_Control(pDX, IDC_BUTTON_REMOVE, m_btnRemove);
    DDX_Control(pDX, IDC_BUTTON_EDIT, m_btnEdit);
    DDX_Control(pDX, IDC_BUTTON_ADD, m_btnAdd);
    DDX_Control(pDX, IDC_COMBO_TYPE, m_comboType);
}

BOOL CConnectionsDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    FillControls();
    return TRUE;
}

void CConnectionsDlg::FillControls() {
    m_comboType->clear();
    AddString(m_comboType, ConnectionTypeLabel(CONNECTION_LOCAL_DCOM));
    AddString(m_comboType, ConnectionTypeLabel(CONNECTION_OPEN_MODBUS));
    m_comboType->setCurrentIndex(0);

    m_listConnections->clear();
    theConnections.ForEach([this](const CString&, CConnection* pConnection) {
        AddString(m_listConnections, pConnection->GetName());
    });
}

void CConnectionsDlg::OnAdd() {
    // Owned by this dialog, as the system's owner rule (the active popup of
    // the main window) would have it, so this one is blocked meanwhile.
    CCommParamsDlg commParamsDlg(this);
    CRemoteServerDlg remoteServerDlg(this);
    CConnection* pConnection = nullptr;
    switch (m_comboType->currentIndex()) {
        case 0:
            commParamsDlg.m_bNew = TRUE;
            commParamsDlg.SetConnection(nullptr);
            commParamsDlg.DoModal();
            pConnection = commParamsDlg.GetConnection();
            break;
        case 1:
            remoteServerDlg.m_bNew = TRUE;
            remoteServerDlg.SetConnection(nullptr);
            remoteServerDlg.DoModal();
            pConnection = remoteServerDlg.GetConnection();
            break;
        default:
            return;
    }
    // Only what the sub-dialog created counts, not how it ended.
    if (pConnection != nullptr) {
        AddString(m_listConnections, pConnection->GetName());
    }
}

void CConnectionsDlg::OnEdit() {
    QListWidgetItem* pItem = m_listConnections->currentItem();
    if (pItem == nullptr || !pItem->isSelected()) {
        return;
    }
    CConnection* pConnection = nullptr;
    if (!theConnections.Lookup(pItem->text().toStdString(), pConnection)) {
        return;
    }
    if (pConnection->GetType() == CONNECTION_LOCAL_DCOM) {
        CCommParamsDlg dlg(this);
        dlg.m_bNew = FALSE;
        dlg.SetConnection(pConnection);
        dlg.DoModal();
    } else if (pConnection->GetType() == CONNECTION_OPEN_MODBUS) {
        CRemoteServerDlg dlg(this);
        dlg.m_bNew = FALSE;
        dlg.SetConnection(pConnection);
        dlg.DoModal();
    }
}

void CConnectionsDlg::OnRemove() {
    QListWidgetItem* pItem = m_listConnections->currentItem();
    if (pItem == nullptr || !pItem->isSelected()) {
        return;
    }
    const CString strName = pItem->text().toStdString();
    if (AfxMessageBox("Remove connection " + strName, MB_YESNO) != IDYES) {
        return;
    }
    theConnections.Remove(strName);
    delete m_listConnections->takeItem(m_listConnections->row(pItem));
}

void CConnectionsDlg::OnSave() {
    CString strError;
    // The old file stays whole when saving fails.
    if (!SaveConnections(theConnections, CONFIG_FILE_NAME, &strError)) {
        AfxMessageBox("Connections not saved: " + strError, MB_OK);
    }
}

void CConnectionsDlg::OnLoad() {
    CString strError;
    BOOL bLoaded = ReplaceConnections(theConnections, CONFIG_FILE_NAME, &strError);
    // The list shows what the collection holds, whatever the outcome.
    FillControls();
    if (!bLoaded) {
        AfxMessageBox(strError, MB_OK);
    }
}
