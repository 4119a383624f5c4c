#include "CommParamsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <cstdio>
#include <cstdlib>

#include "DlgText.h"
#include "JobWatch.h"
#include "connections/Connections.h"
#include "platform/ui/Controls.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/WaitCursor.h"
#include "res/Resource.h"
#include "transport/AutoModbus.h"
#include "transport/BlockingSocket.h"

namespace {
struct ListEntry {
    const char* pszText;
    int nValue;
};

void FillList(QComboBox* pCombo, std::initializer_list<ListEntry> entries) {
    pCombo->clear();
    for (const ListEntry& entry : entries) {
        int nIndex = AddString(pCombo, entry.pszText);
        pCombo->setItemData(nIndex, entry.nValue);
    }
    pCombo->setCurrentIndex(0);
}

// Selects the line reading exactly str (case-insensitive), or none. A prefix
// would pass a value the list lacks (5600 baud) off as another (56000).
void SelectString(QComboBox* pCombo, const CString& str) {
    const QString text = QString::fromStdString(str);
    int nFound = -1;
    for (int i = 0; i < pCombo->count() && !text.isEmpty(); ++i) {
        if (pCombo->itemText(i).compare(text, Qt::CaseInsensitive) == 0) {
            nFound = i;
            break;
        }
    }
    pCombo->setCurrentIndex(nFound);
}

CString Format(const char* pszFormat, long n) {
    char text[32];
    std::snprintf(text, sizeof text, pszFormat, n);
    return text;
}

int ItemData(const QComboBox* pCombo) {
    return pCombo->itemData(pCombo->currentIndex()).toInt();
}
}  // namespace

CCommParamsDlg::CCommParamsDlg(QWidget* pParent) : CDialog(IDD_COMM_PARAMS, pParent) {
    MapCommand(IDC_BUTTON_OK, [this] { OnOk(); });
    MapCommand(IDC_BUTTON_FIND_IP, [this] { OnFindIp(); });
}

void CCommParamsDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_EDIT_ERROR_DELAY, m_editErrorDelay);
    DDX_Control(pDX, IDC_CHECK_TCP_SERVER, m_checkTcpServer);
    DDX_Control(pDX, IDC_EDIT_SERVER, m_editServer);
    DDX_Control(pDX, IDC_EDIT_TCP_PORT, m_editTcpPort);
    DDX_Control(pDX, IDC_EDIT_TCP_ADDRESS, m_editTcpAddress);
    DDX_Control(pDX, IDC_CHECK_ACTIVE, m_checkActive);
    DDX_Control(pDX, IDC_EDIT_SILENT_INTERVAL, m_editSilentInterval);
    DDX_Control(pDX, IDC_EDIT_TIMEOUT, m_editTimeout);
    DDX_Control(pDX, IDC_COMBO_BYTESIZE, m_comboByteSize);
    DDX_Control(pDX, IDC_COMBO_STOPBITS, m_comboStopBits);
    DDX_Control(pDX, IDC_COMBO_PARITY, m_comboParity);
    DDX_Control(pDX, IDC_COMBO_PORT, m_comboPort);
    DDX_Control(pDX, IDC_COMBO_BAUDRATE, m_comboBaudRate);
    DDX_Check(pDX, IDC_CHECK_DTRDSR, m_bDtrDsr);
    DDX_Check(pDX, IDC_CHECK_RTSCTS, m_bRtsCts);
    DDX_Check(pDX, IDC_CHECK_XONXOFF, m_bXonXoff);
}

// The watch abandons a job still running.
CCommParamsDlg::~CCommParamsDlg() {
    DropJob();
}

BOOL CCommParamsDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // Below the controls, shown only while the server is being reached.
    const int nMargin = MapDialogRect(0, 0, 7, 0).width();
    const int nWidth = width() - 2 * nMargin;
    const int nLine = MapDialogRect(0, 0, 0, 9).height();
    m_connecting.Create(this, QRect(nMargin, height(), nWidth, nLine),
                        QRect(nMargin, height() + nLine + nLine / 4, nWidth, nLine));
    FillLists();
    if (!m_bNew) {
        ReadFromServer();
    }
    return TRUE;
}

void CCommParamsDlg::FillLists() {
    m_comboPort->clear();
    for (int n = 1; n <= 8; ++n) {
        AddString(m_comboPort, Format("COM%ld", n));
    }
    m_comboPort->setCurrentIndex(0);
    FillList(m_comboBaudRate, {{"110", 110},
                               {"300", 300},
                               {"600", 600},
                               {"1200", 1200},
                               {"2400", 2400},
                               {"4800", 4800},
                               {"9600", 9600},
                               {"14400", 14400},
                               {"19200", 19200},
                               {"38400", 38400},
                               {"56000", 56000},
                               {"57600", 57600},
                               {"115200", 115200},
                               {"128000", 128000},
                               {"256000", 256000}});
    FillList(m_comboParity, {{"Even", 2}, {"Mark", 3}, {"No parity", 0}, {"Odd", 1}});
    FillList(m_comboStopBits, {{"1", 0}, {"1.5", 1}, {"2", 2}});
    FillList(m_comboByteSize, {{"7", 7}, {"8", 8}});
}

void CCommParamsDlg::ReadFromServer() {
    CAutoModbus* pAuto = m_pConnection ? m_pConnection->GetAutoModbus() : nullptr;
    if (pAuto == nullptr) {
        return;
    }
    if (pAuto->m_pPort == nullptr) {
        // A record whose creation stopped before its server object: the
        // server has nothing to say of it.
        ShowValues(CSerialPortValues(), pAuto->GetServerName());
        return;
    }
    m_pJob = std::make_shared<CSerialSettingsJob>(pAuto->m_strServer, pAuto->m_strPort, true,
                                                  pAuto->m_pTcpServer != nullptr);
    StartPhase(CSerialSettingsJob::READ);
}

void CCommParamsDlg::ShowValues(const CSerialPortValues& v, const CString& strServer) {
    SelectString(m_comboPort, Format("COM%ld", v.nPort));
    SelectString(m_comboBaudRate, Format("%ld", v.nBaudRate));
    static const char* const parities[] = {"No parity", "Odd", "Even", "Mark"};
    SelectString(m_comboParity, v.nParity < 4 ? parities[v.nParity] : "");
    SelectString(m_comboStopBits, v.nStopBits == 0 ? "1" : v.nStopBits == 1 ? "1.5" : "2");
    SelectString(m_comboByteSize, v.nByteSize == 7 ? "7" : "8");
    SetWindowText(m_editTimeout, Format("%ld", v.nTimeout));
    SetWindowText(m_editSilentInterval, Format("%ld", v.nSilentInterval));
    SetWindowText(m_editErrorDelay, Format("%ld", v.nErrorDelay));
    m_checkActive->setChecked(v.bActive);
    m_bDtrDsr = (v.nFlowControl & 1) != 0;
    m_bRtsCts = (v.nFlowControl & 2) != 0;
    m_bXonXoff = (v.nFlowControl & 4) != 0;
    GetDlgItem<QRadioButton>(v.nMode != 0 ? IDC_RADIO_ASCII : IDC_RADIO_RTU)->setChecked(true);
    SetWindowText(m_editServer, strServer);
    // A record whose creation stopped half-way has no TCP server to show.
    if (v.bHasTcpServer) {
        SetWindowText(m_editTcpAddress, v.strTcpAddress);
        SetWindowText(m_editTcpPort, Format("%ld", v.nTcpPort));
        m_checkTcpServer->setChecked(v.bTcpRunning);
    }
    if (!m_bNew) {
        // Server and port make up the name.
        m_editServer->setEnabled(false);
        m_comboPort->setEnabled(false);
    }
    UpdateData(FALSE);
}

void CCommParamsDlg::OnOk() {
    if (!IsConnecting()) {
        Apply();
    }
}

void CCommParamsDlg::OnCancel() {
    // The job keeps its own server object; nothing of its comes back.
    DropJob();
    m_pConnection = nullptr;
    EndDialog(IDCANCEL);
}

void CCommParamsDlg::DropJob() {
    m_pWatch.reset();
    CSerialSettingsJob::Drop(std::move(m_pJob));
}

void CCommParamsDlg::Fail() {
    if (m_bNew) {
        m_pConnection = nullptr;
    }
    DropJob();
}

BOOL CCommParamsDlg::Apply() {
    UpdateData(TRUE);
    m_write = CollectWrite(&m_strRefusal);
    if (!m_bNew) {
        CAutoModbus* pAuto = m_pConnection ? m_pConnection->GetAutoModbus() : nullptr;
        if (pAuto == nullptr) {
            return FALSE;
        }
        m_pJob = std::make_shared<CSerialSettingsJob>(pAuto->m_strServer, pAuto->m_strPort,
                                                      pAuto->m_pPort != nullptr,
                                                      pAuto->m_pTcpServer != nullptr);
        m_pJob->SetWrite(m_write);
        StartPhase(CSerialSettingsJob::WRITE);
        return TRUE;
    }
    const CString strPort = Format("com%ld", m_comboPort->currentIndex() + 1);
    m_strNewServer = Trim(GetWindowText(m_editServer));
    m_strNewName = m_strNewServer.empty() ? strPort : m_strNewServer + ":" + strPort;
    CConnection* pExisting = nullptr;
    if (theConnections.Lookup(m_strNewName, pExisting)) {
        AfxMessageBox("Connection Alredy Exist", MB_OK);
        m_pConnection = nullptr;
        return FALSE;
    }
    m_pConnection = nullptr;
    m_pJob = std::make_shared<CSerialSettingsJob>(m_strNewServer, strPort);
    StartPhase(CSerialSettingsJob::CREATE);
    return TRUE;
}

void CCommParamsDlg::StartPhase(CSerialSettingsJob::EPhase phase) {
    m_phase = phase;
    ShowConnecting(true);
    m_pWatch = std::make_unique<CJobWatch>(CSerialSettingsJob::Start(m_pJob, phase), this,
                                           [this] { OnJobDone(); });
}

void CCommParamsDlg::OnJobDone() {
    if (m_pWatch == nullptr || !m_pWatch->Job().IsDone()) {
        return;
    }
    m_pWatch.reset();
    ShowConnecting(false);
    const std::shared_ptr<CSerialSettingsJob> pJob = m_pJob;
    switch (m_phase) {
        case CSerialSettingsJob::READ:
            ShowValues(pJob->GetValues(), m_pConnection->GetAutoModbus()->GetServerName());
            DropJob();
            break;
        case CSerialSettingsJob::CREATE:
            OnCreated(pJob);
            break;
        case CSerialSettingsJob::WRITE:
            OnWritten(pJob);
            break;
    }
}

void CCommParamsDlg::OnCreated(const std::shared_ptr<CSerialSettingsJob>& pJob) {
    if (FAILED(pJob->GetCreateResult())) {
        AfxMessageBox(pJob->GetFailureMessage(), MB_OK);
        Fail();
        return;
    }
    if (pJob->HasValues() &&
        AfxMessageBox("This connection is already opened by other app. Show current parameters?",
                      MB_YESNO) == IDYES) {
        ShowValues(pJob->GetValues(), m_strNewServer);
        Fail();
        return;
    }
    pJob->SetWrite(m_write);
    StartPhase(CSerialSettingsJob::WRITE);
}

void CCommParamsDlg::OnWritten(const std::shared_ptr<CSerialSettingsJob>& pJob) {
    CString strFailure;
    if (m_write.nFirstInvalid != CSerialPortWrite::ALL) {
        strFailure = m_strRefusal;
    } else if (!pJob->IsOpened()) {
        const CString strWhy = pJob->GetOpenFailureLine();
        strFailure = strWhy.empty() ? CString("Can't connect") : "Can't connect\n" + strWhy;
    } else if (pJob->GetTcpResult() == CSerialSettingsJob::TCP_START_FAILED) {
        strFailure = "Error Starting Modbus TCP server";
    } else if (pJob->GetTcpResult() == CSerialSettingsJob::TCP_STOP_FAILED) {
        strFailure = "Error Stoping Modbus TCP server";
    }
    if (!strFailure.empty()) {
        AfxMessageBox(strFailure, MB_OK);
        Fail();
        return;
    }
    if (m_bNew) {
        m_pConnection = theConnections.Add(m_strNewName, CONNECTION_LOCAL_DCOM);
        if (m_pConnection == nullptr) {
            AfxMessageBox("Error Adding Connection", MB_OK);
            DropJob();
            return;
        }
        pJob->InstallInto(*m_pConnection->GetAutoModbus());
    } else {
        pJob->UpdateLimitOf(*m_pConnection->GetAutoModbus());
    }
    DropJob();
    EndDialog(IDOK);
}

// Each value is checked in the order it is written; the first refused one
// stops the writing, leaving those before it written.
CSerialPortWrite CCommParamsDlg::CollectWrite(CString* pstrRefusal) {
    CSerialPortWrite w;
    pstrRefusal->clear();
    auto check = [&](bool bValid, CSerialPortWrite::EStep step, const char* pszText) {
        if (!bValid && w.nFirstInvalid == CSerialPortWrite::ALL) {
            w.nFirstInvalid = step;
            *pstrRefusal = pszText;
        }
    };
    check(m_comboPort->currentIndex() >= 0, CSerialPortWrite::PORT, "Invalid com port");
    w.nPort = static_cast<BYTE>(m_comboPort->currentIndex() + 1);
    check(m_comboBaudRate->currentIndex() >= 0, CSerialPortWrite::BAUD_RATE, "Invalid Baud-Rate");
    w.nBaudRate = ItemData(m_comboBaudRate);
    check(m_comboParity->currentIndex() >= 0, CSerialPortWrite::PARITY, "Invalid Parity");
    w.nParity = static_cast<BYTE>(ItemData(m_comboParity));
    check(m_comboStopBits->currentIndex() >= 0, CSerialPortWrite::STOP_BITS, "Invalid Stop Bits");
    w.nStopBits = static_cast<BYTE>(ItemData(m_comboStopBits));
    w.nFlowControl =
        static_cast<BYTE>((m_bDtrDsr ? 1 : 0) | (m_bRtsCts ? 2 : 0) | (m_bXonXoff ? 4 : 0));
    w.nTimeout = std::atoi(GetWindowText(m_editTimeout).c_str());
    check(w.nTimeout != 0, CSerialPortWrite::TIMEOUT, "Invalid timeout");
    w.nSilentInterval = std::atoi(GetWindowText(m_editSilentInterval).c_str());
    check(w.nSilentInterval != 0, CSerialPortWrite::SILENT_INTERVAL, "Invalid Char Interval");
    w.nErrorDelay = std::atoi(GetWindowText(m_editErrorDelay).c_str());
    w.nMode = GetDlgItem<QRadioButton>(IDC_RADIO_RTU)->isChecked() ? 0 : 1;
    check(m_comboByteSize->currentIndex() >= 0, CSerialPortWrite::BYTE_SIZE, "Invalid Byte Size");
    w.nByteSize = static_cast<SHORT>(ItemData(m_comboByteSize));
    w.bTcpServer = m_checkTcpServer->isChecked();
    w.strTcpAddress = GetWindowText(m_editTcpAddress);
    w.nTcpPort = static_cast<SHORT>(std::atoi(GetWindowText(m_editTcpPort).c_str()) & 0xFFFF);
    return w;
}

void CCommParamsDlg::ShowConnecting(bool bConnecting) {
    if (bConnecting) {
        m_connecting.Show(m_pJob != nullptr ? m_pJob->GetServerPlace() : CString());
    } else {
        m_connecting.Hide();
    }
    if (m_bNew) {
        m_editServer->setEnabled(!bConnecting);
        m_comboPort->setEnabled(!bConnecting);
    }
    if (QWidget* pOk = GetDlgItem(IDC_BUTTON_OK)) {
        pOk->setEnabled(!bConnecting);
    }
}

void CCommParamsDlg::OnFindIp() {
    CWaitCursor wait;
    try {
        SetWindowText(m_editTcpAddress, GetLocalAddress());
    } catch (CBlockingSocketException* e) {
        e->Delete();
        AfxMessageBox("Failed finding local machine IP", MB_OK);
    }
}
