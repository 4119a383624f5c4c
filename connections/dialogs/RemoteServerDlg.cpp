#include "RemoteServerDlg.h"

#include <cstdlib>

#include "DlgText.h"
#include "connections/Connections.h"
#include "platform/ui/MessageBox.h"
#include "res/Resource.h"
#include "transport/RemoteModbus.h"

CRemoteServerDlg::CRemoteServerDlg(QWidget* pParent) : CDialog(IDD_REMOTE_SERVER, pParent) {
    MapCommand(IDC_OK_BUTTON, [this] { OnOkButton(); });
}

void CRemoteServerDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_EDIT_TIMEOUT, m_editTimeout);
    DDX_Control(pDX, IDC_EDIT_PORT, m_editPort);
    DDX_Control(pDX, IDC_EDIT_ADDRESS, m_editAddress);
}

BOOL CRemoteServerDlg::OnInitDialog() {
    CDialog::OnInitDialog();
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
    if (ApplyAndConnect()) {
        CDialog::OnOK();
    }
}

BOOL CRemoteServerDlg::ApplyAndConnect() {
    UpdateData(TRUE);
    CString strName;
    if (m_bNew) {
        const CString strPort = TrimText(GetWindowText(m_editPort));
        const CString strAddress = TrimText(GetWindowText(m_editAddress));
        // A port that does not fit 16 bits would be cut to another one.
        long nPort = std::atol(strPort.c_str());
        if (nPort < 1 || nPort > 65535) {
            AfxMessageBox("Invalid port", MB_OK);
            return FALSE;
        }
        strName = strAddress + ":" + strPort;
        CConnection* pExisting = nullptr;
        if (theConnections.Lookup(strName, pExisting)) {
            AfxMessageBox("Connection Alredy Exist", MB_OK);
            m_pConnection = nullptr;
            return FALSE;
        }
        m_pConnection = theConnections.Add(strName, CONNECTION_OPEN_MODBUS);
        if (m_pConnection == nullptr) {
            AfxMessageBox("Error Adding Connection", MB_OK);
            return FALSE;
        }
    }
    CRemoteModbus* pModbus = m_pConnection ? m_pConnection->GetRemoteModbus() : nullptr;
    if (pModbus == nullptr) {
        return FALSE;
    }

    // A negative or oversized value would wrap to a wait of weeks, or to 0.
    long nTimeout = std::atol(GetWindowText(m_editTimeout).c_str());
    if (nTimeout <= 0 || nTimeout > 0xFFFFFFFFL) {
        AfxMessageBox("Invalid timeout", MB_OK);
    } else {
        pModbus->SetTimeout(static_cast<DWORD>(nTimeout));
        pModbus->SetHost(GetWindowText(m_editAddress));
        pModbus->SetPort(static_cast<WORD>(std::atol(GetWindowText(m_editPort).c_str())));
        pModbus->SetReconnect(TRUE);
        if (pModbus->Connect(CString(), 0, 0)) {
            return TRUE;
        }
        AfxMessageBox("Connection Error", MB_OK);
    }

    if (m_bNew) {
        theConnections.Remove(strName);
        m_pConnection = nullptr;
    }
    return FALSE;
}
