#include "RemoteServerDlg.h"

#include <cstdlib>

#include "DlgText.h"
#include "JobWatch.h"
#include "connections/Connections.h"
#include "connections/RemoteConnectAttempt.h"
#include "platform/ui/MessageBox.h"
#include "res/Resource.h"
#include "transport/RemoteModbus.h"

CRemoteServerDlg::CRemoteServerDlg(QWidget* pParent) : CDialog(IDD_REMOTE_SERVER, pParent) {
    MapCommand(IDC_OK_BUTTON, [this] { OnOkButton(); });
}

// The watch abandons an attempt still running.
CRemoteServerDlg::~CRemoteServerDlg() = default;

void CRemoteServerDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_EDIT_TIMEOUT, m_editTimeout);
    DDX_Control(pDX, IDC_EDIT_PORT, m_editPort);
    DDX_Control(pDX, IDC_EDIT_ADDRESS, m_editAddress);
}

BOOL CRemoteServerDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // Below the buttons, shown only while connecting.
    m_connecting.Create(this, MapDialogRect(13, 84, 159, 9), MapDialogRect(13, 95, 159, 9));
    if (!m_bNew) {
        FillFromConnection();
    }
    return TRUE;
}

void CRemoteServerDlg::FillFromConnection() {
    CRemoteModbus* pModbus = m_pConnection ? m_pConnection->GetRemoteModbus() : nullptr;
    if (pModbus == nullptr) {
        return;
    }
    SetWindowText(m_editAddress, pModbus->GetHost());
    SetWindowText(m_editPort, std::to_string(pModbus->GetPort()));
    SetWindowText(m_editTimeout, std::to_string(pModbus->GetTimeout()));
    // Address and port make up the name.
    m_editAddress->setEnabled(false);
    m_editPort->setEnabled(false);
}

void CRemoteServerDlg::OnOkButton() {
    if (!IsConnecting()) {
        ApplyAndConnect();
    }
}

void CRemoteServerDlg::OnCancel() {
    // Dropping both leaves the thread alone with its own master.
    m_pWatch.reset();
    m_pAttempt.reset();
    CDialog::OnCancel();
}

BOOL CRemoteServerDlg::ApplyAndConnect() {
    UpdateData(TRUE);
    if (m_bNew) {
        const CString strPort = Trim(GetWindowText(m_editPort));
        const CString strAddress = Trim(GetWindowText(m_editAddress));
        // A port that does not fit 16 bits would be cut to another one.
        long nPort = std::atol(strPort.c_str());
        if (nPort < 1 || nPort > 65535) {
            AfxMessageBox("Invalid port", MB_OK);
            return FALSE;
        }
        m_strNewName = strAddress + ":" + strPort;
        CConnection* pExisting = nullptr;
        if (theConnections.Lookup(m_strNewName, pExisting)) {
            AfxMessageBox("Connection Alredy Exist", MB_OK);
            m_pConnection = nullptr;
            return FALSE;
        }
        m_pConnection = nullptr;
    }
    const CRemoteModbus* pSettings =
        m_bNew ? nullptr : (m_pConnection ? m_pConnection->GetRemoteModbus() : nullptr);
    if (!m_bNew && pSettings == nullptr) {
        return FALSE;
    }

    // A negative value would wrap to a wait of weeks, 0 to the default.
    long nTimeout = std::atol(GetWindowText(m_editTimeout).c_str());
    if (nTimeout <= 0 || nTimeout > MAX_TIMEOUT) {
        AfxMessageBox("Invalid timeout", MB_OK);
        return FALSE;
    }
    const CString strHost = GetWindowText(m_editAddress);
    const auto nPort = static_cast<WORD>(std::atol(GetWindowText(m_editPort).c_str()));
    m_pAttempt = std::make_shared<CRemoteConnectAttempt>(pSettings, strHost, nPort,
                                                         static_cast<DWORD>(nTimeout));
    ShowConnecting(Trim(strHost) + ":" + std::to_string(nPort));
    // The thread holds the attempt itself and never the dialog or the record.
    std::shared_ptr<CRemoteConnectAttempt> pAttempt = m_pAttempt;
    m_pWatch = std::make_unique<CJobWatch>(
        CBackgroundJob::Start([pAttempt](CBackgroundJob&) { pAttempt->Run(); }), this,
        [this] { OnConnectDone(); });
    return TRUE;
}

void CRemoteServerDlg::ShowConnecting(const CString& strTarget) {
    const bool bConnecting = !strTarget.empty();
    if (bConnecting) {
        m_connecting.Show(strTarget);
    } else {
        m_connecting.Hide();
    }
    m_editTimeout->setEnabled(!bConnecting);
    if (m_bNew) {
        m_editAddress->setEnabled(!bConnecting);
        m_editPort->setEnabled(!bConnecting);
    }
    if (QWidget* pOk = GetDlgItem(IDC_OK_BUTTON)) {
        pOk->setEnabled(!bConnecting);
    }
}

void CRemoteServerDlg::OnConnectDone() {
    if (m_pWatch == nullptr || !m_pWatch->Job().IsDone()) {
        return;
    }
    const std::shared_ptr<CRemoteConnectAttempt> pAttempt = std::move(m_pAttempt);
    m_pWatch.reset();
    ShowConnecting(CString());
    if (pAttempt->IsConnected()) {
        if (m_bNew) {
            m_pConnection = theConnections.Add(m_strNewName, CONNECTION_OPEN_MODBUS);
            if (m_pConnection == nullptr) {
                AfxMessageBox("Error Adding Connection", MB_OK);
                return;
            }
        }
        pAttempt->InstallInto(*m_pConnection);
        CDialog::OnOK();
        return;
    }
    if (!m_bNew) {
        pAttempt->ApplyFailureTo(*m_pConnection);
    }
    // The heading, then where and why.
    const CString& strCause = pAttempt->GetCause();
    AfxMessageBox(strCause.empty() ? CString("Connection Error") : "Connection Error\n" + strCause,
                  MB_OK);
}
