#include "ConnectionsDlg.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <memory>

#include "CommParamsDlg.h"
#include "ConfigLoadProgress.h"
#include "RemoteServerDlg.h"
#include "connections/ConfigFile.h"
#include "connections/ConfigLoadJob.h"
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
    // In kind order: the line's index is the kind less one.
    for (WORD nType = CONNECTION_LOCAL_DCOM; nType <= CONNECTION_TLS; ++nType) {
        AddString(m_comboType, ConnectionTypeLabel(nType));
    }
    m_comboType->setCurrentIndex(0);

    m_listConnections->clear();
    theConnections.ForEach([this](const CString&, CConnection* pConnection) {
        AddString(m_listConnections, pConnection->GetName());
    });
}

void CConnectionsDlg::OnAdd() {
    const int nIndex = m_comboType->currentIndex();
    if (nIndex < 0 || nIndex >= CONNECTION_TLS) {
        return;
    }
    const auto nType = static_cast<WORD>(nIndex + CONNECTION_LOCAL_DCOM);
    CConnection* pConnection = nullptr;
    // Owned by this dialog, as the system's owner rule (the active popup of
    // the main window) would have it, so this one is blocked meanwhile.
    if (nType == CONNECTION_LOCAL_DCOM) {
        CCommParamsDlg commParamsDlg(this);
        commParamsDlg.m_bNew = TRUE;
        commParamsDlg.SetConnection(nullptr);
        commParamsDlg.DoModal();
        pConnection = commParamsDlg.GetConnection();
    } else {
        CRemoteServerDlg remoteServerDlg(nType, this);
        remoteServerDlg.m_bNew = TRUE;
        remoteServerDlg.SetConnection(nullptr);
        remoteServerDlg.DoModal();
        pConnection = remoteServerDlg.GetConnection();
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
    } else if (IsHostConnection(pConnection->GetType())) {
        CRemoteServerDlg dlg(pConnection->GetType(), this);
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
    auto pLoad = std::make_shared<CConfigLoadJob>(theConnections, CONFIG_FILE_NAME);
    RunConfigLoad(pLoad, this, windowTitle(),
                  QStringLiteral("Loading %1").arg(CONFIG_FILE_NAME) + QChar(0x2026));
    CString strError;
    // Cancel keeps what was loaded so far and reports nothing.
    const BOOL bLoaded = pLoad->Finish(theConnections, &strError);
    // The list shows what the collection holds, whatever the outcome.
    FillControls();
    if (!bLoaded) {
        AfxMessageBox(strError, MB_OK);
    }
}
