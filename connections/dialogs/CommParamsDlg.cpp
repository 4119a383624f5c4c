#include "CommParamsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <cstdio>
#include <cstdlib>

#include "DlgText.h"
#include "connections/Connections.h"
#include "platform/com/ErrorInfo.h"
#include "platform/com/OleAuto.h"
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

BOOL CCommParamsDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    FillLists();
    if (!m_bNew) {
        ReadFromServer();
    }
    return TRUE;
}

void CCommParamsDlg::OnCancel() {
    m_pConnection = nullptr;
    EndDialog(IDCANCEL);
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
    SelectString(m_comboPort, Format("COM%ld", pAuto->GetPort()));
    SelectString(m_comboBaudRate, Format("%ld", pAuto->GetBaudRate()));
    static const char* const parities[] = {"No parity", "Odd", "Even", "Mark"};
    const BYTE nParity = pAuto->GetParity();
    SelectString(m_comboParity, nParity < 4 ? parities[nParity] : "");
    const BYTE nStopBits = pAuto->GetStopBits();
    SelectString(m_comboStopBits, nStopBits == 0 ? "1" : nStopBits == 1 ? "1.5" : "2");
    SelectString(m_comboByteSize, pAuto->GetByteSize() == 7 ? "7" : "8");
    SetWindowText(m_editTimeout, Format("%ld", pAuto->GetTimeout()));
    SetWindowText(m_editSilentInterval, Format("%ld", pAuto->GetSilentInterval()));
    SetWindowText(m_editErrorDelay, Format("%ld", pAuto->GetErrorDelay()));
    m_checkActive->setChecked(pAuto->IsConnected());
    const BYTE nFlow = pAuto->GetFlowControl();
    m_bDtrDsr = (nFlow & 1) != 0;
    m_bRtsCts = (nFlow & 2) != 0;
    m_bXonXoff = (nFlow & 4) != 0;
    const bool bAscii = pAuto->GetMode() != 0;
    GetDlgItem<QRadioButton>(bAscii ? IDC_RADIO_ASCII : IDC_RADIO_RTU)->setChecked(true);
    SetWindowText(m_editServer, pAuto->GetServerName());
    // A record whose creation stopped half-way has no TCP server to show.
    if (IModbusTcpServer* pTcpServer = pAuto->m_pTcpServer) {
        BSTR bstrAddress = nullptr;
        if (SUCCEEDED(pTcpServer->get_Address(&bstrAddress))) {
            SetWindowText(m_editTcpAddress, BstrToString(bstrAddress));
        }
        SysFreeString(bstrAddress);
        LONG nPort = 0;
        pTcpServer->get_Port(&nPort);
        SetWindowText(m_editTcpPort, Format("%ld", nPort));
        VARIANT_BOOL bRunning = VARIANT_FALSE;
        pTcpServer->get_Running(&bRunning);
        m_checkTcpServer->setChecked(bRunning == VARIANT_TRUE);
    }
    if (!m_bNew) {
        // Server and port make up the name.
        m_editServer->setEnabled(false);
        m_comboPort->setEnabled(false);
    }
    UpdateData(FALSE);
}

void CCommParamsDlg::OnOk() {
    if (Apply()) {
        EndDialog(IDOK);
    }
}

BOOL CCommParamsDlg::Fail(const CString& strName) {
    if (m_bNew) {
        theConnections.Remove(strName);
        m_pConnection = nullptr;
    }
    return FALSE;
}

// Adds the record for a new connection and creates its object on the server.
BOOL CCommParamsDlg::CreateRecord(CString& strName) {
    const CString strPort = Format("com%ld", m_comboPort->currentIndex() + 1);
    const CString strServer = TrimText(GetWindowText(m_editServer));
    strName = strServer.empty() ? strPort : strServer + ":" + strPort;
    CConnection* pExisting = nullptr;
    if (theConnections.Lookup(strName, pExisting)) {
        AfxMessageBox("Connection Alredy Exist", MB_OK);
        m_pConnection = nullptr;
        return FALSE;
    }
    m_pConnection = theConnections.Add(strName, CONNECTION_LOCAL_DCOM);
    if (m_pConnection == nullptr) {
        AfxMessageBox("Error Adding Connection", MB_OK);
        return FALSE;
    }
    HRESULT hr = m_pConnection->GetAutoModbus()->Create(strServer, strPort);
    if (FAILED(hr)) {
        char text[500];
        // The error object, where activation left one, says more than the code.
        const CString strDescription = TakeErrorDescription();
        if (!strDescription.empty()) {
            AfxMessageBox(strDescription, MB_OK);
        } else if (GetFailureText(hr, text, sizeof text)) {
            AfxMessageBox(text, MB_OK);
        } else {
            AfxMessageBox("Can't Create Automation Object", MB_OK);
        }
        return Fail(strName);
    }
    return TRUE;
}

// Each value goes to the server once it is valid; the first invalid one
// stops, leaving those before it written.
BOOL CCommParamsDlg::WriteLineSettings(CAutoModbus* pAuto) {
    auto valid = [](bool bValid, const char* pszText) {
        if (!bValid) {
            AfxMessageBox(pszText, MB_OK);
        }
        return bValid;
    };
    if (!valid(m_comboPort->currentIndex() >= 0, "Invalid com port")) {
        return FALSE;
    }
    pAuto->SetPort(static_cast<BYTE>(m_comboPort->currentIndex() + 1));
    if (!valid(m_comboBaudRate->currentIndex() >= 0, "Invalid Baud-Rate")) {
        return FALSE;
    }
    pAuto->SetBaudRate(ItemData(m_comboBaudRate));
    if (!valid(m_comboParity->currentIndex() >= 0, "Invalid Parity")) {
        return FALSE;
    }
    pAuto->SetParity(static_cast<BYTE>(ItemData(m_comboParity)));
    if (!valid(m_comboStopBits->currentIndex() >= 0, "Invalid Stop Bits")) {
        return FALSE;
    }
    pAuto->SetStopBits(static_cast<BYTE>(ItemData(m_comboStopBits)));
    pAuto->SetFlowControl(
        static_cast<BYTE>((m_bDtrDsr ? 1 : 0) | (m_bRtsCts ? 2 : 0) | (m_bXonXoff ? 4 : 0)));
    const int nTimeout = std::atoi(GetWindowText(m_editTimeout).c_str());
    if (!valid(nTimeout != 0, "Invalid timeout")) {
        return FALSE;
    }
    pAuto->SetTimeout(nTimeout);
    const int nSilentInterval = std::atoi(GetWindowText(m_editSilentInterval).c_str());
    if (!valid(nSilentInterval != 0, "Invalid Char Interval")) {
        return FALSE;
    }
    pAuto->SetSilentInterval(nSilentInterval);
    pAuto->SetErrorDelay(std::atoi(GetWindowText(m_editErrorDelay).c_str()));
    pAuto->SetMode(GetDlgItem<QRadioButton>(IDC_RADIO_RTU)->isChecked() ? 0 : 1);
    if (!valid(m_comboByteSize->currentIndex() >= 0, "Invalid Byte Size")) {
        return FALSE;
    }
    pAuto->SetByteSize(static_cast<SHORT>(ItemData(m_comboByteSize)));
    return valid(pAuto->Connect(), "Can't connect");
}

// Starts or stops the port's Modbus TCP server as the box says. A record
// whose creation stopped half-way has no TCP server to set.
BOOL CCommParamsDlg::ApplyTcpServer(CAutoModbus* pAuto) {
    IModbusTcpServer* pTcpServer = pAuto->m_pTcpServer;
    if (pTcpServer == nullptr) {
        return TRUE;
    }
    VARIANT_BOOL bResult = VARIANT_FALSE;
    if (m_checkTcpServer->isChecked()) {
        BSTR bstrAddress = AllocBstr(GetWindowText(m_editTcpAddress));
        pTcpServer->put_Address(bstrAddress);
        SysFreeString(bstrAddress);
        pTcpServer->put_Port(
            static_cast<SHORT>(std::atoi(GetWindowText(m_editTcpPort).c_str()) & 0xFFFF));
        pTcpServer->Start(&bResult);
        if (bResult == VARIANT_FALSE) {
            AfxMessageBox("Error Starting Modbus TCP server", MB_OK);
        }
    } else {
        pTcpServer->Stop(&bResult);
        if (bResult == VARIANT_FALSE) {
            AfxMessageBox("Error Stoping Modbus TCP server", MB_OK);
        }
    }
    return bResult != VARIANT_FALSE;
}

BOOL CCommParamsDlg::Apply() {
    CWaitCursor wait;
    UpdateData(TRUE);
    CString strName;
    if (m_bNew && !CreateRecord(strName)) {
        return FALSE;
    }
    CAutoModbus* pAuto = m_pConnection ? m_pConnection->GetAutoModbus() : nullptr;
    if (pAuto == nullptr) {
        return FALSE;
    }
    if (m_bNew && pAuto->IsConnected() &&
        AfxMessageBox("This connection is already opened by other app. Show current parameters?",
                      MB_YESNO) == IDYES) {
        ReadFromServer();
        return Fail(strName);
    }
    if (!WriteLineSettings(pAuto) || !ApplyTcpServer(pAuto)) {
        return Fail(strName);
    }
    return TRUE;
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
