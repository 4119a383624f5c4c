#include "RemoteServerDlg.h"

#include <QInputDialog>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "DlgText.h"
#include "JobWatch.h"
#include "connections/Connections.h"
#include "connections/RemoteConnectAttempt.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MessageBox.h"
#include "res/Resource.h"
#include "transport/RemoteModbus.h"
#include "transport/TlsModbus.h"

namespace {
constexpr char kCertFilter[] =
    "Certificates (*.pem;*.crt;*.cer)|*.pem;*.crt;*.cer|All Files (*)|*||";
constexpr char kKeyFilter[] = "Private keys (*.pem;*.key)|*.pem;*.key|All Files (*)|*||";

// The passphrase of an encrypted key, asked in a password field; FALSE when
// the user cancelled.
BOOL AskPassphrase(QWidget* pParent, const CString& strKeyFile, CString& strPassphrase) {
    QInputDialog dlg(pParent);
    dlg.setObjectName("passphrase");
    dlg.setWindowTitle(QStringLiteral("Private Key Passphrase"));
    dlg.setLabelText(QString::fromStdString("Passphrase for " + strKeyFile + ":"));
    dlg.setTextEchoMode(QLineEdit::Password);
    dlg.setWindowModality(Qt::WindowModal);
    if (dlg.exec() != QDialog::Accepted) {
        return FALSE;
    }
    strPassphrase = dlg.textValue().toStdString();
    return TRUE;
}

// Why a file named in the dialog cannot be read; empty when it can.
CString FileProblem(const char* pszWhat, const CString& strFile) {
    if (strFile.empty()) {
        return CString("Choose the ") + pszWhat + " file";
    }
    std::error_code ec;
    if (!std::filesystem::exists(strFile, ec)) {
        return CString("The ") + pszWhat + " file does not exist:\n" + strFile;
    }
    if (!std::filesystem::is_regular_file(strFile, ec)) {
        return CString("The ") + pszWhat + " file is not a file:\n" + strFile;
    }
    return CString();
}
}  // namespace

CRemoteServerDlg::CRemoteServerDlg(QWidget* pParent)
    : CRemoteServerDlg(CONNECTION_OPEN_MODBUS, pParent) {}

CRemoteServerDlg::CRemoteServerDlg(WORD nType, QWidget* pParent)
    : CDialog(nType == CONNECTION_TLS ? IDD_TLS_SERVER : IDD_REMOTE_SERVER, pParent),
      m_nType(nType) {
    MapCommand(IDC_OK_BUTTON, [this] { OnOkButton(); });
    if (IsTls()) {
        MapCommand(IDC_BUTTON_BROWSE_CA, [this] { Browse(m_editCaFile, kCertFilter); });
        MapCommand(IDC_BUTTON_BROWSE_CERT, [this] { Browse(m_editCertFile, kCertFilter); });
        MapCommand(IDC_BUTTON_BROWSE_KEY, [this] { Browse(m_editKeyFile, kKeyFilter); });
    }
}

// The watch abandons an attempt still running.
CRemoteServerDlg::~CRemoteServerDlg() = default;

CString CRemoteServerDlg::TitleOf(WORD nType) {
    switch (nType) {
        case CONNECTION_RTU_OVER_TCP:
            return "RTU over TCP Connection";
        case CONNECTION_UDP:
            return "Modbus/UDP Connection";
        case CONNECTION_TLS:
            return "Modbus/TCP Security Connection";
        default:
            return "Remote Server Connection";
    }
}

CString CRemoteServerDlg::NameOf(WORD nType, const CString& strHost, const CString& strPort) {
    const CString strPlace = strHost + ":" + strPort;
    switch (nType) {
        case CONNECTION_RTU_OVER_TCP:
            return "rtu-over-tcp:" + strPlace;
        case CONNECTION_UDP:
            return "udp:" + strPlace;
        case CONNECTION_TLS:
            return "tls:" + strPlace;
        default:
            return strPlace;
    }
}

void CRemoteServerDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_EDIT_TIMEOUT, m_editTimeout);
    DDX_Control(pDX, IDC_EDIT_PORT, m_editPort);
    DDX_Control(pDX, IDC_EDIT_ADDRESS, m_editAddress);
    if (IsTls()) {
        DDX_Control(pDX, IDC_EDIT_CA_FILE, m_editCaFile);
        DDX_Control(pDX, IDC_EDIT_CERT_FILE, m_editCertFile);
        DDX_Control(pDX, IDC_EDIT_KEY_FILE, m_editKeyFile);
    }
}

BOOL CRemoteServerDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    setWindowTitle(QString::fromStdString(TitleOf(m_nType)));
    // Below the buttons, shown only while connecting.
    const int y = IsTls() ? 175 : 84;
    m_connecting.Create(this, MapDialogRect(13, y, 159, 9), MapDialogRect(13, y + 11, 159, 9));
    if (!m_bNew) {
        FillFromConnection();
    } else if (m_nType != CONNECTION_OPEN_MODBUS) {
        // The newer kinds offer their usual port; Open Modbus starts empty.
        std::unique_ptr<CRemoteModbus> pDefaults(NewHostModbus(m_nType));
        if (pDefaults != nullptr) {
            SetWindowText(m_editPort, std::to_string(pDefaults->GetPort()));
        }
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
    if (auto* pTls = dynamic_cast<CTlsModbus*>(pModbus); pTls != nullptr && IsTls()) {
        SetWindowText(m_editCaFile, pTls->GetCaFile());
        SetWindowText(m_editCertFile, pTls->GetCertFile());
        SetWindowText(m_editKeyFile, pTls->GetKeyFile());
    }
    // Address and port make up the name.
    m_editAddress->setEnabled(false);
    m_editPort->setEnabled(false);
}

void CRemoteServerDlg::Browse(QLineEdit* pEdit, const char* pszFilter) {
    if (IsConnecting()) {
        return;
    }
    const CString strNow = GetWindowText(pEdit);
    CFileDialog dlg(TRUE, nullptr, strNow.empty() ? nullptr : strNow.c_str(),
                    OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, pszFilter, this);
    if (dlg.DoModal() == IDOK) {
        SetWindowText(pEdit, dlg.GetPathName());
    }
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

BOOL CRemoteServerDlg::TakeTlsFiles(CTlsFiles& files) {
    files.strCaFile = Trim(GetWindowText(m_editCaFile));
    files.strCertFile = Trim(GetWindowText(m_editCertFile));
    files.strKeyFile = Trim(GetWindowText(m_editKeyFile));
    for (const auto& [pszWhat, strFile] : {std::pair{"CA certificate", files.strCaFile},
                                           std::pair{"client certificate", files.strCertFile},
                                           std::pair{"private key", files.strKeyFile}}) {
        const CString strProblem = FileProblem(pszWhat, strFile);
        if (!strProblem.empty()) {
            AfxMessageBox(strProblem, MB_OK);
            return FALSE;
        }
    }
    // Asked here, before the attempt's thread starts; kept in memory only.
    return !CTlsModbus::KeyNeedsPassphrase(files.strKeyFile) ||
           AskPassphrase(this, files.strKeyFile, files.strKeyPassphrase);
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
        m_strNewName = NameOf(m_nType, strAddress, strPort);
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
    CTlsFiles files;
    if (IsTls() && !TakeTlsFiles(files)) {
        return FALSE;
    }
    const CString strHost = GetWindowText(m_editAddress);
    const auto nPort = static_cast<WORD>(std::atol(GetWindowText(m_editPort).c_str()));
    m_pAttempt = std::make_shared<CRemoteConnectAttempt>(m_nType, pSettings, strHost, nPort,
                                                         static_cast<DWORD>(nTimeout));
    if (IsTls()) {
        m_pAttempt->SetTlsFiles(files);
    }
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
    if (IsTls()) {
        for (int nID : {IDC_EDIT_CA_FILE, IDC_EDIT_CERT_FILE, IDC_EDIT_KEY_FILE,
                        IDC_BUTTON_BROWSE_CA, IDC_BUTTON_BROWSE_CERT, IDC_BUTTON_BROWSE_KEY}) {
            GetDlgItem(nID)->setEnabled(!bConnecting);
        }
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
            m_pConnection = theConnections.Add(m_strNewName, m_nType);
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
