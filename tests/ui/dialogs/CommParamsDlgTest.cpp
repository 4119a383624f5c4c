// Communications Parameters against modbus-serial-server with the simulator
// on a pty as COM1: what reaches the server and in which order, the names,
// the refusals, a port another client holds, the port's TCP server.
#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QTest>

#include "connections/Connections.h"
#include "connections/dialogs/CommParamsDlg.h"
#include "platform/com/ComApi.h"
#include "res/Resource.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "transport/AutoModbus.h"
#include "transport/BlockingSocket.h"
#include "transport/RemoteModbus.h"

namespace {
class CommParamsDlg : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_FALSE(m_rig.m_strRemote.empty());
        // The test's own view of COM1 on the same server.
        ASSERT_EQ(m_probe.Create("", "com1"), S_OK);
    }
    void TearDown() override {
        theConnections.RemoveAll();
        m_probe.ReleaseServer();
        CoUninitialize();
    }

    // A dialog for a new connection (or editing pEdit) with a time-out and a
    // silent interval typed in.
    std::unique_ptr<CCommParamsDlg> Dialog(CConnection* pEdit = nullptr) {
        auto pDlg = std::make_unique<CCommParamsDlg>();
        pDlg->m_bNew = pEdit == nullptr;
        pDlg->SetConnection(pEdit);
        EXPECT_TRUE(pDlg->Create());
        if (pEdit == nullptr) {
            SetText(pDlg.get(), IDC_EDIT_TIMEOUT, "1000");
            SetText(pDlg.get(), IDC_EDIT_SILENT_INTERVAL, "5");
        }
        return pDlg;
    }
    void Check(const QWidget* pDlg, int nID, bool bChecked = true) {
        Ctl<QAbstractButton>(pDlg, nID)->setChecked(bChecked);
    }

    CSerialRig m_rig;
    CAutoModbus m_probe;
    CMessageBoxRecorder m_boxes;
};

TEST_F(CommParamsDlg, InitialSelectionsReachTheServerUnderThePortsName) {
    auto pDlg = Dialog();  // neither transmission mode checked: ASCII
    pDlg->SendCommand(IDC_BUTTON_OK);
    ASSERT_EQ(pDlg->result(), IDOK);
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{"com1"});
    EXPECT_EQ(pDlg->GetConnection()->GetAutoModbus()->GetServerName(), "");
    EXPECT_EQ(m_probe.GetPort(), 1);
    EXPECT_EQ(m_probe.GetBaudRate(), 110);
    EXPECT_EQ(m_probe.GetParity(), 2);  // even
    EXPECT_EQ(m_probe.GetStopBits(), 0);
    EXPECT_EQ(m_probe.GetByteSize(), 7);
    EXPECT_EQ(m_probe.GetMode(), 1);
    EXPECT_EQ(m_probe.GetErrorDelay(), 0);
    EXPECT_TRUE(m_probe.IsConnected());

    // Blanks only in the Server box: this machine, the same name.
    auto pTwice = Dialog();
    SetText(pTwice.get(), IDC_EDIT_SERVER, "   ");
    pTwice->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{"Connection Alredy Exist"});
    EXPECT_EQ(pTwice->GetConnection(), nullptr);
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

TEST_F(CommParamsDlg, ValuesBeforeAnInvalidTimeOutStayWrittenTheRecordGoes) {
    auto pDlg = Dialog();
    Choose(pDlg.get(), IDC_COMBO_BAUDRATE, "19200");
    Choose(pDlg.get(), IDC_COMBO_PARITY, "Odd");
    Choose(pDlg.get(), IDC_COMBO_STOPBITS, "2");
    Check(pDlg.get(), IDC_CHECK_DTRDSR);
    Check(pDlg.get(), IDC_CHECK_XONXOFF);
    SetText(pDlg.get(), IDC_EDIT_TIMEOUT, "");
    SetText(pDlg.get(), IDC_EDIT_SILENT_INTERVAL, "7");
    pDlg->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{"Invalid timeout"});
    EXPECT_EQ(pDlg->GetConnection(), nullptr);
    EXPECT_EQ(theConnections.GetCount(), 0u);
    EXPECT_EQ(m_probe.GetBaudRate(), 19200);
    EXPECT_EQ(m_probe.GetParity(), 1);
    EXPECT_EQ(m_probe.GetStopBits(), 2);
    EXPECT_EQ(m_probe.GetFlowControl(), 5);
    EXPECT_NE(m_probe.GetSilentInterval(), 7);  // after the time-out
}

TEST_F(CommParamsDlg, ServerTextIsTrimmedIntoTheNameAndNamesTheMachine) {
    auto pDlg = Dialog();
    SetText(pDlg.get(), IDC_EDIT_SERVER, "  " + m_rig.m_strRemote + " ");
    Click(pDlg.get(), IDC_RADIO_RTU);
    pDlg->SendCommand(IDC_BUTTON_OK);
    ASSERT_EQ(pDlg->result(), IDOK);
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{m_rig.m_strRemote + ":com1"});
    CAutoModbus* pAuto = pDlg->GetConnection()->GetAutoModbus();
    EXPECT_EQ(pAuto->GetServerName(), m_rig.m_strRemote);
    CWordArray values(3);
    EXPECT_EQ(pAuto->ReadOutputRegisters(1, 0, 3, values), 0);
    EXPECT_EQ(values, (CWordArray{11, 22, 33}));

    // A machine nobody serves: the system's text, and no record.
    auto pNowhere = Dialog();
    SetText(pNowhere.get(), IDC_EDIT_SERVER, "127.0.0.1:" + std::to_string(ClosedPort()));
    pNowhere->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{"The RPC server is unavailable."});
    EXPECT_EQ(pNowhere->GetConnection(), nullptr);
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

TEST_F(CommParamsDlg, PortOpenInAnotherClientAsksYesShowsNoApplies) {
    m_probe.SetBaudRate(38400);
    m_probe.SetTimeout(1234);
    ASSERT_TRUE(m_probe.Connect());
    auto pDlg = Dialog();
    m_boxes.m_answers = {IDYES, IDNO};
    pDlg->SendCommand(IDC_BUTTON_OK);
    const CString strQuestion =
        "This connection is already opened by other app. Show current parameters?";
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{strQuestion});
    EXPECT_EQ(m_boxes.m_boxes[0].nType, UINT(MB_YESNO));
    EXPECT_EQ(pDlg->result(), 0);
    EXPECT_EQ(theConnections.GetCount(), 0u);
    EXPECT_EQ(Text(pDlg.get(), IDC_COMBO_BAUDRATE), "38400");
    EXPECT_EQ(Text(pDlg.get(), IDC_EDIT_TIMEOUT), "1234");
    EXPECT_TRUE(Ctl<QCheckBox>(pDlg.get(), IDC_CHECK_ACTIVE)->isChecked());

    Choose(pDlg.get(), IDC_COMBO_BAUDRATE, "9600");
    pDlg->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>(2, strQuestion));
    EXPECT_EQ(pDlg->result(), IDOK);
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{"com1"});
    EXPECT_EQ(m_probe.GetBaudRate(), 9600);
}

TEST_F(CommParamsDlg, EditShowsTheServersValuesAndRefusesABaudRateTheListLacks) {
    CConnection* pConnection = theConnections.Add("com1", CONNECTION_LOCAL_DCOM);
    ASSERT_EQ(pConnection->GetAutoModbus()->Create("", "com1"), S_OK);
    m_probe.SetBaudRate(5600);  // no entry, though a prefix of one (56000)
    m_probe.SetParity(0);
    m_probe.SetStopBits(1);
    m_probe.SetMode(0);
    m_probe.SetFlowControl(2);
    m_probe.SetErrorDelay(3);
    auto pDlg = Dialog(pConnection);
    EXPECT_EQ(Text(pDlg.get(), IDC_COMBO_PORT), "COM1");
    EXPECT_EQ(Ctl<QComboBox>(pDlg.get(), IDC_COMBO_BAUDRATE)->currentIndex(), -1);
    EXPECT_EQ(Text(pDlg.get(), IDC_COMBO_PARITY), "No parity");
    EXPECT_EQ(Text(pDlg.get(), IDC_COMBO_STOPBITS), "1.5");
    EXPECT_TRUE(Ctl<QRadioButton>(pDlg.get(), IDC_RADIO_RTU)->isChecked());
    EXPECT_TRUE(Ctl<QCheckBox>(pDlg.get(), IDC_CHECK_RTSCTS)->isChecked());
    EXPECT_EQ(Text(pDlg.get(), IDC_EDIT_ERROR_DELAY), "3");
    EXPECT_FALSE(GetDlgItem(pDlg.get(), IDC_COMBO_PORT)->isEnabled());
    EXPECT_FALSE(GetDlgItem(pDlg.get(), IDC_EDIT_SERVER)->isEnabled());

    pDlg->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{"Invalid Baud-Rate"});
    EXPECT_EQ(pDlg->GetConnection(), pConnection);  // an edited record stays
    Choose(pDlg.get(), IDC_COMBO_BAUDRATE, "57600");
    pDlg->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(pDlg->result(), IDOK);
    EXPECT_EQ(m_probe.GetBaudRate(), 57600);
}

TEST_F(CommParamsDlg, EnterCancelAndEscWriteAndCreateNothing) {
    m_probe.SetBaudRate(9600);
    for (int nWay = 0; nWay < 3; ++nWay) {
        auto pDlg = Dialog();
        pDlg->show();
        Choose(pDlg.get(), IDC_COMBO_BAUDRATE, "115200");
        QWidget* pTimeout = GetDlgItem(pDlg.get(), IDC_EDIT_TIMEOUT);
        pTimeout->setFocus();
        if (nWay == 0) {
            QTest::keyClick(pTimeout, Qt::Key_Return);
        } else if (nWay == 1) {
            Click(pDlg.get(), IDCANCEL);
        } else {
            QTest::keyClick(pTimeout, Qt::Key_Escape);
        }
        EXPECT_EQ(pDlg->result(), nWay == 0 ? IDOK : IDCANCEL);
        EXPECT_EQ(pDlg->GetConnection(), nullptr);
    }
    EXPECT_TRUE(m_boxes.m_boxes.empty());
    EXPECT_EQ(theConnections.GetCount(), 0u);
    EXPECT_EQ(m_probe.GetBaudRate(), 9600);
}

TEST_F(CommParamsDlg, TcpServerStartsForModbusTcpClientsAndStops) {
    auto pDlg = Dialog();
    // "&Find IP": this machine's address, or the message when it has none.
    Click(pDlg.get(), IDC_BUTTON_FIND_IP);
    try {
        EXPECT_EQ(Text(pDlg.get(), IDC_EDIT_TCP_ADDRESS).toStdString(), GetLocalAddress());
    } catch (CBlockingSocketException* e) {
        e->Delete();
        EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{"Failed finding local machine IP"});
        m_boxes.m_boxes.clear();
    }
    Click(pDlg.get(), IDC_RADIO_RTU);
    SetText(pDlg.get(), IDC_EDIT_TCP_ADDRESS, "127.0.0.1");
    SetText(pDlg.get(), IDC_EDIT_TCP_PORT, "0");  // any free port
    Check(pDlg.get(), IDC_CHECK_TCP_SERVER);
    pDlg->SendCommand(IDC_BUTTON_OK);
    ASSERT_EQ(pDlg->result(), IDOK);

    // Editing shows where it listens.
    auto pEdit = Dialog(pDlg->GetConnection());
    EXPECT_TRUE(Ctl<QCheckBox>(pEdit.get(), IDC_CHECK_TCP_SERVER)->isChecked());
    EXPECT_EQ(Text(pEdit.get(), IDC_EDIT_TCP_ADDRESS), "127.0.0.1");
    const int nPort = Text(pEdit.get(), IDC_EDIT_TCP_PORT).toInt();
    CRemoteModbus client;
    ASSERT_TRUE(client.Connect("127.0.0.1", static_cast<WORD>(nPort), 3000));
    CWordArray values(2);
    EXPECT_EQ(client.ReadOutputRegisters(1, 1, 2, values), 0);
    EXPECT_EQ(values, (CWordArray{22, 33}));

    Check(pEdit.get(), IDC_CHECK_TCP_SERVER, false);
    pEdit->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(pEdit->result(), IDOK);
    VARIANT_BOOL bRunning = VARIANT_TRUE;
    m_probe.m_pTcpServer->get_Running(&bRunning);
    EXPECT_EQ(bRunning, VARIANT_FALSE);
    EXPECT_TRUE(m_boxes.m_boxes.empty());
}
}  // namespace
