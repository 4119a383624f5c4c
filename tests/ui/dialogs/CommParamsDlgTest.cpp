// Communications Parameters against modbus-serial-server, with the simulator
// on a pty as COM1: what reaches the server and in which order, the names,
// the refusals, a port another client holds, the port's TCP server.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include "DialogTestSupport.h"
#include "connections/Connections.h"
#include "connections/dialogs/CommParamsDlg.h"
#include "platform/com/ComApi.h"
#include "res/Resource.h"
#include "transport/AutoModbus.h"
#include "transport/RemoteModbus.h"

namespace {
class CommParamsDlg : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_TRUE(m_rig.m_bStarted) << m_rig.m_strError;
        // This test's own view of COM1 on the same server.
        ASSERT_EQ(m_probe.Create("", "com1"), S_OK);
    }
    void TearDown() override {
        theConnections.RemoveAll();
        m_probe.ReleaseServer();
        CoUninitialize();
    }

    std::unique_ptr<CCommParamsDlg> Dialog(CConnection* pEdit = nullptr) {
        auto pDlg = std::make_unique<CCommParamsDlg>();
        pDlg->m_bNew = pEdit == nullptr;
        pDlg->SetConnection(pEdit);
        EXPECT_TRUE(pDlg->Create());
        return pDlg;
    }

    CSerialRig m_rig;
    CAutoModbus m_probe;
    CScriptedBoxes m_boxes;
};

TEST_F(CommParamsDlg, InitialSelectionsReachTheServer) {
    auto pDlg = Dialog();
    SetText(pDlg.get(), IDC_EDIT_TIMEOUT, "1000");
    SetText(pDlg.get(), IDC_EDIT_SILENT_INTERVAL, "5");
    // Neither transmission mode is checked: ASCII.
    pDlg->SendCommand(IDC_BUTTON_OK);
    ASSERT_EQ(pDlg->result(), IDOK) << (m_boxes.m_texts.empty() ? "" : m_boxes.m_texts[0]);
    ASSERT_EQ(ConnectionNames(), std::vector<CString>{"com1"});
    EXPECT_EQ(pDlg->GetConnection()->GetAutoModbus()->GetServerName(), "");
    EXPECT_EQ(m_probe.GetPort(), 1);
    EXPECT_EQ(m_probe.GetBaudRate(), 110);
    EXPECT_EQ(m_probe.GetParity(), 2);  // even
    EXPECT_EQ(m_probe.GetStopBits(), 0);
    EXPECT_EQ(m_probe.GetByteSize(), 7);
    EXPECT_EQ(m_probe.GetMode(), 1);
    EXPECT_EQ(m_probe.GetErrorDelay(), 0);
    EXPECT_EQ(m_probe.GetTimeout(), 1000);
    EXPECT_EQ(m_probe.GetSilentInterval(), 5);
    EXPECT_TRUE(m_probe.IsConnected());

    // COM1 once more, blank server text: the same name.
    auto pTwice = Dialog();
    SetText(pTwice.get(), IDC_EDIT_SERVER, "   ");
    pTwice->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>{"Connection Alredy Exist"});
    EXPECT_EQ(pTwice->GetConnection(), nullptr);
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

TEST_F(CommParamsDlg, ValuesBeforeAnInvalidTimeOutAreWrittenAndTheRecordGoes) {
    m_probe.SetBaudRate(110);
    auto pDlg = Dialog();
    ASSERT_TRUE(Choose(pDlg.get(), IDC_COMBO_BAUDRATE, "19200"));
    ASSERT_TRUE(Choose(pDlg.get(), IDC_COMBO_PARITY, "Odd"));
    ASSERT_TRUE(Choose(pDlg.get(), IDC_COMBO_STOPBITS, "2"));
    Ctl<QCheckBox>(pDlg.get(), IDC_CHECK_DTRDSR)->setChecked(true);
    Ctl<QCheckBox>(pDlg.get(), IDC_CHECK_XONXOFF)->setChecked(true);
    SetText(pDlg.get(), IDC_EDIT_SILENT_INTERVAL, "7");
    pDlg->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>{"Invalid timeout"});
    EXPECT_EQ(pDlg->result(), 0);
    EXPECT_EQ(pDlg->GetConnection(), nullptr);
    EXPECT_EQ(theConnections.GetCount(), 0u);
    EXPECT_EQ(m_probe.GetBaudRate(), 19200);
    EXPECT_EQ(m_probe.GetParity(), 1);
    EXPECT_EQ(m_probe.GetStopBits(), 2);
    EXPECT_EQ(m_probe.GetFlowControl(), 5);
    EXPECT_NE(m_probe.GetSilentInterval(), 7);  // after the time-out: not written
}

TEST_F(CommParamsDlg, ServerTextIsTrimmedIntoTheNameAndNamesTheMachine) {
    auto pDlg = Dialog();
    const CString strServer = "  " + m_rig.m_strRemote + " ";
    SetText(pDlg.get(), IDC_EDIT_SERVER, strServer.c_str());
    ASSERT_TRUE(Choose(pDlg.get(), IDC_COMBO_PORT, "COM1"));
    SetText(pDlg.get(), IDC_EDIT_TIMEOUT, "500");
    SetText(pDlg.get(), IDC_EDIT_SILENT_INTERVAL, "5");
    Click(pDlg.get(), IDC_RADIO_RTU);
    pDlg->SendCommand(IDC_BUTTON_OK);
    ASSERT_EQ(pDlg->result(), IDOK) << (m_boxes.m_texts.empty() ? "" : m_boxes.m_texts[0]);
    const CString strName = m_rig.m_strRemote + ":com1";
    ASSERT_EQ(ConnectionNames(), std::vector<CString>{strName});
    CAutoModbus* pAuto = pDlg->GetConnection()->GetAutoModbus();
    EXPECT_EQ(pAuto->GetServerName(), m_rig.m_strRemote);
    CWordArray values(3);
    EXPECT_EQ(pAuto->ReadOutputRegisters(1, 0, 3, values), 0);
    EXPECT_EQ(values, (CWordArray{11, 22, 33}));

    // A machine nobody serves: the system's text, and no record.
    auto pNowhere = Dialog();
    SetText(pNowhere.get(), IDC_EDIT_SERVER, ("127.0.0.1:" + std::to_string(ClosedPort())).c_str());
    SetText(pNowhere.get(), IDC_EDIT_TIMEOUT, "500");
    SetText(pNowhere.get(), IDC_EDIT_SILENT_INTERVAL, "5");
    pNowhere->SendCommand(IDC_BUTTON_OK);
    ASSERT_EQ(m_boxes.m_texts.size(), 1u);
    EXPECT_EQ(m_boxes.m_texts[0], "The RPC server is unavailable.");
    EXPECT_EQ(pNowhere->GetConnection(), nullptr);
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

TEST_F(CommParamsDlg, PortOpenInAnotherClientAsksFirst) {
    m_probe.SetBaudRate(38400);
    m_probe.SetTimeout(1234);
    ASSERT_TRUE(m_probe.Connect());
    auto pDlg = Dialog();
    SetText(pDlg.get(), IDC_EDIT_TIMEOUT, "1000");
    SetText(pDlg.get(), IDC_EDIT_SILENT_INTERVAL, "5");
    const CString strQuestion =
        "This connection is already opened by other app. Show current parameters?";
    // Yes: the server's values are shown, nothing is added or written.
    m_boxes.m_answers = {IDYES};
    pDlg->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>{strQuestion});
    EXPECT_EQ(m_boxes.m_types, std::vector<UINT>{MB_YESNO});
    EXPECT_EQ(pDlg->result(), 0);
    EXPECT_EQ(theConnections.GetCount(), 0u);
    EXPECT_EQ(Ctl<QComboBox>(pDlg.get(), IDC_COMBO_BAUDRATE)->currentText(), "38400");
    EXPECT_EQ(Ctl<QLineEdit>(pDlg.get(), IDC_EDIT_TIMEOUT)->text(), "1234");
    EXPECT_TRUE(Ctl<QCheckBox>(pDlg.get(), IDC_CHECK_ACTIVE)->isChecked());
    EXPECT_EQ(m_probe.GetBaudRate(), 38400);

    // Asked again; No applies the dialog's values.
    ASSERT_TRUE(Choose(pDlg.get(), IDC_COMBO_BAUDRATE, "9600"));
    m_boxes.m_answers = {IDNO};
    pDlg->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>(2, strQuestion));
    EXPECT_EQ(pDlg->result(), IDOK);
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{"com1"});
    EXPECT_EQ(m_probe.GetBaudRate(), 9600);
}

TEST_F(CommParamsDlg, EditShowsTheServerAndRefusesABaudRateTheListLacks) {
    CConnection* pConnection = theConnections.Add("com1", CONNECTION_LOCAL_DCOM);
    ASSERT_EQ(pConnection->GetAutoModbus()->Create("", "com1"), S_OK);
    // 5600 is no entry, though a prefix of one (56000).
    m_probe.SetBaudRate(5600);
    m_probe.SetParity(0);
    m_probe.SetStopBits(1);
    m_probe.SetByteSize(8);
    m_probe.SetMode(0);
    m_probe.SetFlowControl(2);
    m_probe.SetTimeout(800);
    m_probe.SetSilentInterval(9);
    m_probe.SetErrorDelay(3);
    auto pDlg = Dialog(pConnection);
    EXPECT_EQ(Ctl<QComboBox>(pDlg.get(), IDC_COMBO_PORT)->currentText(), "COM1");
    EXPECT_EQ(Ctl<QComboBox>(pDlg.get(), IDC_COMBO_BAUDRATE)->currentIndex(), -1);
    EXPECT_EQ(Ctl<QComboBox>(pDlg.get(), IDC_COMBO_PARITY)->currentText(), "No parity");
    EXPECT_EQ(Ctl<QComboBox>(pDlg.get(), IDC_COMBO_STOPBITS)->currentText(), "1.5");
    EXPECT_EQ(Ctl<QComboBox>(pDlg.get(), IDC_COMBO_BYTESIZE)->currentText(), "8");
    EXPECT_TRUE(Ctl<QRadioButton>(pDlg.get(), IDC_RADIO_RTU)->isChecked());
    EXPECT_TRUE(Ctl<QCheckBox>(pDlg.get(), IDC_CHECK_RTSCTS)->isChecked());
    EXPECT_FALSE(Ctl<QCheckBox>(pDlg.get(), IDC_CHECK_DTRDSR)->isChecked());
    EXPECT_EQ(Ctl<QLineEdit>(pDlg.get(), IDC_EDIT_TIMEOUT)->text(), "800");
    EXPECT_EQ(Ctl<QLineEdit>(pDlg.get(), IDC_EDIT_SILENT_INTERVAL)->text(), "9");
    EXPECT_EQ(Ctl<QLineEdit>(pDlg.get(), IDC_EDIT_ERROR_DELAY)->text(), "3");
    EXPECT_FALSE(Ctl<QComboBox>(pDlg.get(), IDC_COMBO_PORT)->isEnabled());
    EXPECT_FALSE(Ctl<QLineEdit>(pDlg.get(), IDC_EDIT_SERVER)->isEnabled());

    pDlg->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>{"Invalid Baud-Rate"});
    EXPECT_EQ(pDlg->GetConnection(), pConnection);  // an edited record stays
    EXPECT_EQ(theConnections.GetCount(), 1u);

    ASSERT_TRUE(Choose(pDlg.get(), IDC_COMBO_BAUDRATE, "57600"));
    pDlg->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(pDlg->result(), IDOK);
    EXPECT_EQ(m_probe.GetBaudRate(), 57600);
    EXPECT_EQ(m_probe.GetFlowControl(), 2);
}

TEST_F(CommParamsDlg, EnterCancelAndEscWriteAndCreateNothing) {
    m_probe.SetBaudRate(9600);
    int nRun = 0;
    for (auto finish : std::vector<std::function<void(CCommParamsDlg*)>>{
             [](CCommParamsDlg* p) {
                 auto* pEdit = Ctl<QLineEdit>(p, IDC_EDIT_TIMEOUT);
                 pEdit->setFocus();
                 QTest::keyClick(pEdit, Qt::Key_Return);
             },
             [](CCommParamsDlg* p) { Click(p, IDCANCEL); },
             [](CCommParamsDlg* p) { QTest::keyClick(p, Qt::Key_Escape); }}) {
        auto pDlg = Dialog();
        pDlg->show();
        ASSERT_TRUE(Choose(pDlg.get(), IDC_COMBO_BAUDRATE, "115200"));
        SetText(pDlg.get(), IDC_EDIT_TIMEOUT, "1000");
        SetText(pDlg.get(), IDC_EDIT_SILENT_INTERVAL, "5");
        finish(pDlg.get());
        EXPECT_EQ(pDlg->result(), nRun++ == 0 ? IDOK : IDCANCEL);
        EXPECT_FALSE(pDlg->isVisible());
        EXPECT_EQ(pDlg->GetConnection(), nullptr);
    }
    EXPECT_TRUE(m_boxes.m_texts.empty());
    EXPECT_EQ(theConnections.GetCount(), 0u);
    EXPECT_EQ(m_probe.GetBaudRate(), 9600);
}

TEST_F(CommParamsDlg, TcpServerStartsForModbusTcpClientsAndStops) {
    auto pDlg = Dialog();
    SetText(pDlg.get(), IDC_EDIT_TIMEOUT, "1000");
    SetText(pDlg.get(), IDC_EDIT_SILENT_INTERVAL, "5");
    Click(pDlg.get(), IDC_RADIO_RTU);
    ASSERT_TRUE(Choose(pDlg.get(), IDC_COMBO_BYTESIZE, "8"));
    ASSERT_TRUE(Choose(pDlg.get(), IDC_COMBO_PARITY, "No parity"));
    SetText(pDlg.get(), IDC_EDIT_TCP_ADDRESS, "127.0.0.1");
    SetText(pDlg.get(), IDC_EDIT_TCP_PORT, "0");  // any free port
    Ctl<QCheckBox>(pDlg.get(), IDC_CHECK_TCP_SERVER)->setChecked(true);
    pDlg->SendCommand(IDC_BUTTON_OK);
    ASSERT_EQ(pDlg->result(), IDOK) << (m_boxes.m_texts.empty() ? "" : m_boxes.m_texts[0]);
    CConnection* pConnection = pDlg->GetConnection();
    ASSERT_NE(pConnection, nullptr);

    // Editing shows where it listens.
    auto pEdit = Dialog(pConnection);
    EXPECT_TRUE(Ctl<QCheckBox>(pEdit.get(), IDC_CHECK_TCP_SERVER)->isChecked());
    EXPECT_EQ(Ctl<QLineEdit>(pEdit.get(), IDC_EDIT_TCP_ADDRESS)->text(), "127.0.0.1");
    const int nPort = Ctl<QLineEdit>(pEdit.get(), IDC_EDIT_TCP_PORT)->text().toInt();
    ASSERT_GT(nPort, 0);
    {
        CRemoteModbus client;
        ASSERT_TRUE(client.Connect("127.0.0.1", static_cast<WORD>(nPort), 3000));
        CWordArray values(2);
        EXPECT_EQ(client.ReadOutputRegisters(1, 1, 2, values), 0);
        EXPECT_EQ(values, (CWordArray{22, 33}));
    }
    Ctl<QCheckBox>(pEdit.get(), IDC_CHECK_TCP_SERVER)->setChecked(false);
    pEdit->SendCommand(IDC_BUTTON_OK);
    EXPECT_EQ(pEdit->result(), IDOK);
    VARIANT_BOOL bRunning = VARIANT_TRUE;
    m_probe.m_pTcpServer->get_Running(&bRunning);
    EXPECT_EQ(bRunning, VARIANT_FALSE);
    EXPECT_TRUE(m_boxes.m_texts.empty());
}
}  // namespace
