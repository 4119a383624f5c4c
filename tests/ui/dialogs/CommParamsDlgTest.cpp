// Communications Parameters against modbus-serial-server with the simulator
// on a pty as COM1: what reaches the server and in which order, the names,
// the refusals, a port another client holds, the port's TCP server; against
// a server that never answers: the window answering while it waits, Cancel
// abandoning the attempt; and each failure of the server, met for real.
// An edited record whose server has gone is one of those failures.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QTest>
#include <chrono>
#include <optional>

#include "connections/Connections.h"
#include "connections/dialogs/CommParamsDlg.h"
#include "platform/UniqueFd.h"
#include "platform/com/ComApi.h"
#include "platform/com/rpc/RpcFrame.h"
#include "platform/com/rpc/RpcSettings.h"
#include "res/Resource.h"
#include "tests/support/GreetingServer.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ServerPin.h"
#include "tests/support/TempDir.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "transport/AutoModbus.h"
#include "transport/BlockingSocket.h"
#include "transport/RemoteModbus.h"

namespace {
// A dialog for a new connection (or editing pEdit) once it has the server's
// settings, with a time-out and a silent interval typed in.
std::unique_ptr<CCommParamsDlg> Dialog(CConnection* pEdit = nullptr) {
    auto pDlg = std::make_unique<CCommParamsDlg>();
    pDlg->m_bNew = pEdit == nullptr;
    pDlg->SetConnection(pEdit);
    EXPECT_TRUE(pDlg->Create());
    EXPECT_TRUE(WaitFor([&] { return !pDlg->IsConnecting(); }, std::chrono::seconds(10)));
    SetText(pDlg.get(), IDC_EDIT_TIMEOUT, "1000");
    SetText(pDlg.get(), IDC_EDIT_SILENT_INTERVAL, "5");
    return pDlg;
}
// "&OK", waiting until the server has answered.
void Ok(CCommParamsDlg* pDlg) {
    pDlg->SendCommand(IDC_BUTTON_OK);
    EXPECT_TRUE(WaitFor([&] { return !pDlg->IsConnecting(); }, std::chrono::seconds(15)));
}

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
    void Check(const QWidget* pDlg, int nID, bool bChecked = true) {
        Ctl<QAbstractButton>(pDlg, nID)->setChecked(bChecked);
    }

    CSerialRig m_rig;
    CAutoModbus m_probe;
    CMessageBoxRecorder m_boxes;
};

TEST_F(CommParamsDlg, InitialSelectionsReachTheServerUnderThePortsName) {
    auto pDlg = Dialog();  // neither transmission mode checked: ASCII
    Ok(pDlg.get());
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
    Ok(pTwice.get());
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
    Ok(pDlg.get());
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
    Ok(pDlg.get());
    ASSERT_EQ(pDlg->result(), IDOK);
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{m_rig.m_strRemote + ":com1"});
    CAutoModbus* pAuto = pDlg->GetConnection()->GetAutoModbus();
    EXPECT_EQ(pAuto->GetServerName(), m_rig.m_strRemote);
    CWordArray values(3);
    EXPECT_EQ(pAuto->ReadOutputRegisters(1, 0, 3, values), 0);
    EXPECT_EQ(values, (CWordArray{11, 22, 33}));

    // A machine nobody serves: the system's text, and no record.
    auto pNowhere = Dialog();
    const WORD nClosed = ClosedPort();
    SetText(pNowhere.get(), IDC_EDIT_SERVER, "127.0.0.1:" + std::to_string(nClosed));
    Ok(pNowhere.get());
    EXPECT_EQ(m_boxes.Texts(),
              std::vector<CString>{
                  "The RPC server is unavailable.\nAt 127.0.0.1:" + std::to_string(nClosed) +
                  ": The serial-port server cannot be reached: Connection "
                  "refused."});
    EXPECT_EQ(pNowhere->GetConnection(), nullptr);
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

TEST_F(CommParamsDlg, PortOpenInAnotherClientAsksYesShowsNoApplies) {
    m_probe.SetBaudRate(38400);
    m_probe.SetTimeout(1234);
    ASSERT_TRUE(m_probe.Connect());
    auto pDlg = Dialog();
    m_boxes.m_answers = {IDYES, IDNO};
    Ok(pDlg.get());
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
    Ok(pDlg.get());
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

    Ok(pDlg.get());
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{"Invalid Baud-Rate"});
    EXPECT_EQ(pDlg->GetConnection(), pConnection);  // an edited record stays
    Choose(pDlg.get(), IDC_COMBO_BAUDRATE, "57600");
    Ok(pDlg.get());
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
    Ok(pDlg.get());
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
    Ok(pEdit.get());
    EXPECT_EQ(pEdit->result(), IDOK);
    VARIANT_BOOL bRunning = VARIANT_TRUE;
    m_probe.m_pTcpServer->get_Running(&bRunning);
    EXPECT_EQ(bRunning, VARIANT_FALSE);
    EXPECT_TRUE(m_boxes.m_boxes.empty());
}

// Creating a connection whose server never answers (a listener that takes
// the connection in the kernel and says nothing, so the key's handshake
// waits out its whole time-out): the window answers, and Cancel abandons
// the attempt.
TEST(CommParamsSilent, TheWindowAnswersAndCancelAbandonsTheAttempt) {
    CTempDir dir;
    CoSetAccessKeyFile(
        dir.WriteFile("access.key", "00112233445566778899aabbccddeeff\n", 0600).c_str());
    CListener listener;
    CMessageBoxRecorder boxes;
    const CString strServer = "127.0.0.1:" + std::to_string(listener.Port());
    auto pDlg = Dialog();
    pDlg->show();
    SetText(pDlg.get(), IDC_EDIT_SERVER, strServer);
    const auto start = std::chrono::steady_clock::now();
    pDlg->SendCommand(IDC_BUTTON_OK);
    ExpectAnswersWhileConnecting(
        pDlg.get(), IDC_BUTTON_OK, [&] { return pDlg->IsConnecting(); }, strServer,
        std::chrono::steady_clock::now() - start);
    ExpectCancelAbandonsTheAttempt(*pDlg, boxes, [&] {
        // The listener ends the connection: the attempt fails and closes its end.
        CUniqueFd peer(listener.Accept());
        ASSERT_TRUE(peer.IsValid());
        ::shutdown(peer.Get(), SHUT_WR);
        bool bClosed = false;
        for (int i = 0; i < 100 && !bClosed; ++i) {
            pollfd p{peer.Get(), POLLIN, 0};
            char buf[512];
            bClosed = ::poll(&p, 1, 50) == 1 && ::read(peer.Get(), buf, sizeof buf) <= 0;
        }
        EXPECT_TRUE(bClosed);
    });
    CoSetAccessKeyFile(nullptr);
    theConnections.RemoveAll();
}

// Each way the serial-port server can fail, met for real: the message's
// first line is the system's text, the second names the server and why. An
// edited record whose server has gone stays.
enum class ECause { NOT_INSTALLED, WRONG_KEY, OTHER_VERSION, SILENT, UNKNOWN_PORT, GONE };
struct FailureCase {
    const char* pszName;
    ECause cause;
    const char* pszFirstLine;
};

class CommParamsFailure : public testing::TestWithParam<FailureCase> {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override {
        CoSetAccessKeyFile(nullptr);
        theConnections.RemoveAll();
        CoUninitialize();
    }

    CTempDir m_dir;
    CScopedEnv m_runtime{RPC_RUNTIME_DIR_VARIABLE, m_dir.Path().c_str()};
    CMessageBoxRecorder m_boxes;
};

TEST_P(CommParamsFailure, TheMessageNamesTheServerAndTheCause) {
    std::optional<CServerPin> pin;
    std::optional<CSerialRig> rig;
    std::optional<CGreetingServer> other;
    std::optional<CListener> silent;
    std::optional<CScopedEnv> config;
    CConnection* pEdit = nullptr;
    CString strServer, strCause;
    const char* pszPort = "COM1";
    switch (GetParam().cause) {
        case ECause::NOT_INSTALLED:
            pin.emplace();
            strCause = "The serial-port server is not running and could not be started: " +
                       RpcGetLocalServer(CLSID_ModbusSerialServer) + ": No such file or directory.";
            break;
        case ECause::WRONG_KEY:
            rig.emplace();
            ASSERT_FALSE(rig->m_strRemote.empty());
            CoSetAccessKeyFile(
                m_dir.WriteFile("other.key", "ffeeddccbbaa99887766554433221100\n", 0600).c_str());
            strServer = rig->m_strRemote;
            strCause = "The serial-port server refused this program's access key.";
            break;
        case ECause::OTHER_VERSION:
            pin.emplace();
            other.emplace(m_dir.Path(), WORD(RPC_VERSION + 1));
            strCause = "The serial-port server speaks protocol version " +
                       std::to_string(RPC_VERSION + 1) + "; this program speaks version " +
                       std::to_string(RPC_VERSION) + ".";
            break;
        case ECause::SILENT:
            CoSetAccessKeyFile(
                m_dir.WriteFile("access.key", "00112233445566778899aabbccddeeff\n", 0600).c_str());
            silent.emplace();
            strServer = "127.0.0.1:" + std::to_string(silent->Port());
            strCause = "The serial-port server did not answer within 5 s.";
            break;
        case ECause::UNKNOWN_PORT:
            // The server's port map sends COM2 to a device that does not exist.
            ASSERT_EQ(::mkdir((m_dir.Path() + "/regprobe").c_str(), 0700), 0);
            m_dir.WriteFile("regprobe/serial-ports.conf", "COM2=" + m_dir.Path() + "/absent\n",
                            0600);
            config.emplace("XDG_CONFIG_HOME", m_dir.Path().c_str());
            rig.emplace();
            ASSERT_FALSE(rig->m_strRemote.empty());
            pszPort = "COM2";
            strCause = "The serial-port server has no device for COM2.";
            break;
        case ECause::GONE:
            rig.emplace();
            ASSERT_FALSE(rig->m_strRemote.empty());
            strServer = rig->m_strRemote;
            pEdit = theConnections.Add(strServer + ":com1", CONNECTION_LOCAL_DCOM);
            ASSERT_EQ(pEdit->GetAutoModbus()->Create(strServer, "com1"), S_OK);
            rig.reset();
            Pump(std::chrono::milliseconds(200));  // the connection's watcher sees it end
            strCause = "The serial-port server cannot be reached: Connection refused.";
            break;
    }
    auto pDlg = Dialog(pEdit);
    SetText(pDlg.get(), IDC_EDIT_SERVER, strServer);
    Choose(pDlg.get(), IDC_COMBO_PORT, pszPort);
    Choose(pDlg.get(), IDC_COMBO_BAUDRATE, "9600");
    Ok(pDlg.get());
    const CString strPlace = strServer.empty() ? "On this machine" : "At " + strServer;
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{CString(GetParam().pszFirstLine) + "\n" +
                                                    strPlace + ": " + strCause});
    EXPECT_EQ(pDlg->GetConnection(), pEdit);
    EXPECT_EQ(ConnectionNames(), pEdit == nullptr ? std::vector<CString>{}
                                                  : std::vector<CString>{strServer + ":com1"});
    EXPECT_EQ(pDlg->result(), 0);  // still open
}

INSTANTIATE_TEST_SUITE_P(
    Causes, CommParamsFailure,
    testing::Values(FailureCase{"NotInstalled", ECause::NOT_INSTALLED, "Server execution failed"},
                    FailureCase{"WrongKey", ECause::WRONG_KEY, "Access is denied."},
                    FailureCase{"OtherVersion", ECause::OTHER_VERSION,
                                "The serial-port server speaks another protocol version than "
                                "this program."},
                    FailureCase{"Silent", ECause::SILENT, "The RPC server is unavailable."},
                    FailureCase{"UnknownPort", ECause::UNKNOWN_PORT, "Can't connect"},
                    FailureCase{"EditedServerGone", ECause::GONE, "Can't connect"}),
    [](const testing::TestParamInfo<FailureCase>& info) {
        return std::string(info.param.pszName);
    });
}  // namespace
