// The host-and-port connection dialog of each kind. Each plain kind against
// the simulator speaking it: the record made under the trimmed name, read
// through, and made once. Open Modbus: the refusals and their messages, Edit
// with Enter as "&OK", each real cause of a failed connection; against a
// listener that never accepts, the window answering while it connects and
// Cancel abandoning it. Modbus/TCP Security: what is refused before anything
// connects, the passphrase of an encrypted key, the record made and read
// through, and Edit keeping the files given.
#include <QInputDialog>
#include <QLineEdit>
#include <QTest>
#include <chrono>
#include <filesystem>

#include "connections/Connections.h"
#include "connections/dialogs/RemoteServerDlg.h"
#include "platform/UniqueFd.h"
#include "res/Resource.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "transport/RemoteModbus.h"
#include "transport/TlsModbus.h"

namespace {
class RemoteServerDlg : public testing::Test {
protected:
    void TearDown() override { theConnections.RemoveAll(); }

    // A new-mode dialog of kind nType, created.
    static std::unique_ptr<CRemoteServerDlg> New(WORD nType = CONNECTION_OPEN_MODBUS) {
        auto pDlg = nType == CONNECTION_OPEN_MODBUS
                        ? std::make_unique<CRemoteServerDlg>()
                        : std::make_unique<CRemoteServerDlg>(nType, nullptr);
        pDlg->m_bNew = TRUE;
        EXPECT_TRUE(pDlg->Create());
        return pDlg;
    }
    static void Type(CRemoteServerDlg& dlg, const CString& strAddress, const CString& strPort,
                     const CString& strTimeout) {
        SetText(&dlg, IDC_EDIT_ADDRESS, strAddress);
        SetText(&dlg, IDC_EDIT_PORT, strPort);
        SetText(&dlg, IDC_EDIT_TIMEOUT, strTimeout);
    }
    // "&OK", waiting until the connection has been tried.
    static void Ok(CRemoteServerDlg& dlg) {
        dlg.SendCommand(IDC_OK_BUTTON);
        EXPECT_TRUE(WaitFor([&] { return !dlg.IsConnecting(); }, std::chrono::seconds(10)));
    }
    // A new Open Modbus dialog with the three fields typed in, after "&OK".
    static std::unique_ptr<CRemoteServerDlg> Ok(const CString& strAddress, const CString& strPort,
                                                const CString& strTimeout) {
        auto pDlg = New();
        Type(*pDlg, strAddress, strPort, strTimeout);
        Ok(*pDlg);
        return pDlg;
    }
    // Holding registers 0-2 through the record's own master.
    static std::vector<WORD> ReadThrough(CConnection* pConnection) {
        CWordArray values(3);
        const WORD wStatus = pConnection->GetRemoteModbus()->ReadOutputRegisters(1, 0, 3, values);
        EXPECT_EQ(wStatus, 0) << pConnection->GetRemoteModbus()->GetErrorText(wStatus);
        return std::vector<WORD>(values.begin(), values.end());
    }

    CMessageBoxRecorder m_boxes;
};

struct CKind {
    WORD nType;
    const char* pszTransport;  // the simulator's name for it
    const char* pszTitle;
    const char* pszNamePrefix;
    const char* pszPort;  // shown in a new dialog
};

void PrintTo(const CKind& kind, std::ostream* pOut) {
    *pOut << kind.pszTransport;
}

class RemoteServerDlgKinds : public RemoteServerDlg, public testing::WithParamInterface<CKind> {};

// The kind's title and port; then a record of the kind under the trimmed
// name that reads from a device speaking only that kind; then no second
// record of the same name.
TEST_P(RemoteServerDlgKinds, MakesARecordOfItsKindThatReadsOnce) {
    const CKind& kind = GetParam();
    CTcpSim sim({"--transport", kind.pszTransport, "--holding", "0=11,22,33"});
    ASSERT_NE(sim.m_nPort, 0);
    auto pDlg = New(kind.nType);
    EXPECT_EQ(pDlg->windowTitle().toStdString(), kind.pszTitle);
    EXPECT_EQ(Text(pDlg.get(), IDC_EDIT_PORT), kind.pszPort);
    EXPECT_EQ(pDlg->GetDlgItem(IDC_EDIT_CA_FILE), nullptr);

    Type(*pDlg, "127.0.0.1  ", "  " + sim.Port() + " ", "1500");
    Ok(*pDlg);
    EXPECT_EQ(pDlg->result(), IDOK);
    EXPECT_TRUE(m_boxes.Texts().empty());
    const CString strName = kind.pszNamePrefix + ("127.0.0.1:" + sim.Port());
    ASSERT_EQ(ConnectionNames(), std::vector<CString>{strName});
    CConnection* pConnection = pDlg->GetConnection();
    ASSERT_NE(pConnection, nullptr);
    EXPECT_EQ(pConnection->GetType(), kind.nType);
    CRemoteModbus* pModbus = pConnection->GetRemoteModbus();
    EXPECT_TRUE(pModbus->IsConnected());
    EXPECT_EQ(pModbus->GetHost(), "127.0.0.1  ");  // as typed
    EXPECT_EQ(pModbus->GetPort(), sim.m_nPort);
    EXPECT_EQ(pModbus->GetTimeout(), 1500u);
    EXPECT_TRUE(pModbus->GetReconnect());
    EXPECT_EQ(ReadThrough(pConnection), (std::vector<WORD>{11, 22, 33}));

    auto pTwice = New(kind.nType);
    Type(*pTwice, "127.0.0.1", sim.Port(), "1500");
    Ok(*pTwice);
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{"Connection Alredy Exist"});
    EXPECT_EQ(m_boxes.m_boxes[0].nType, UINT(MB_OK));
    EXPECT_EQ(pTwice->GetConnection(), nullptr);
    EXPECT_EQ(pTwice->result(), 0);  // still open
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RemoteServerDlgKinds,
    testing::Values(CKind{CONNECTION_OPEN_MODBUS, "tcp", "Remote Server Connection", "", ""},
                    CKind{CONNECTION_RTU_OVER_TCP, "rtu-over-tcp", "RTU over TCP Connection",
                          "rtu-over-tcp:", "502"},
                    CKind{CONNECTION_UDP, "udp", "Modbus/UDP Connection", "udp:", "502"}),
    [](const testing::TestParamInfo<CKind>& info) {
        return info.param.nType == CONNECTION_UDP            ? "Udp"
               : info.param.nType == CONNECTION_RTU_OVER_TCP ? "RtuOverTcp"
                                                             : "OpenModbus";
    });

TEST_F(RemoteServerDlg, RefusedTimeOutsPortsAndConnectionsCreateNothing) {
    CTcpSim sim;
    ASSERT_NE(sim.m_nPort, 0);
    // Negative and oversized values would wrap to weeks, or to 0, and more
    // than ten minutes is a slip; a port beyond 16 bits is another port.
    std::vector<CString> expected;
    for (const char* pszTimeout : {"", "abc", "0", "-5", "600001", "4294967295", "4294967296"}) {
        EXPECT_EQ(Ok("127.0.0.1", sim.Port(), pszTimeout)->GetConnection(), nullptr);
        expected.push_back("Invalid timeout");
    }
    for (const char* pszPort : {"70000", "0", ""}) {
        EXPECT_EQ(Ok("127.0.0.1", pszPort, "1000")->GetConnection(), nullptr);
        expected.push_back("Invalid port");
    }
    const CString strClosed = std::to_string(ClosedPort());
    auto pDlg = Ok("127.0.0.1", strClosed, "1000");
    expected.push_back("Connection Error\n127.0.0.1:" + strClosed + ": connection refused");
    EXPECT_EQ(pDlg->GetConnection(), nullptr);
    EXPECT_EQ(m_boxes.Texts(), expected);
    EXPECT_EQ(theConnections.GetCount(), 0u);

    // The same dialog, corrected: nothing of the failures is in the way.
    SetText(pDlg.get(), IDC_EDIT_PORT, sim.Port());
    pDlg->SendCommand(IDC_OK_BUTTON);
    EXPECT_TRUE(WaitFor([&] { return pDlg->result() == IDOK; }));
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

TEST_F(RemoteServerDlg, EditChangesOnlyTheTimeOutAndEnterIsOk) {
    CTcpSim sim;
    ASSERT_NE(sim.m_nPort, 0);
    CConnection* pConnection = theConnections.Add("plc", CONNECTION_OPEN_MODBUS);
    CRemoteModbus* pModbus = pConnection->GetRemoteModbus();
    pModbus->SetHost("127.0.0.1");
    pModbus->SetPort(sim.m_nPort);
    pModbus->SetTimeout(900);
    CRemoteServerDlg dlg;
    dlg.SetConnection(pConnection);
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(Text(&dlg, IDC_EDIT_ADDRESS), "127.0.0.1");
    EXPECT_EQ(Text(&dlg, IDC_EDIT_PORT).toStdString(), sim.Port());
    EXPECT_EQ(Text(&dlg, IDC_EDIT_TIMEOUT), "900");
    EXPECT_FALSE(GetDlgItem(&dlg, IDC_EDIT_ADDRESS)->isEnabled());
    EXPECT_FALSE(GetDlgItem(&dlg, IDC_EDIT_PORT)->isEnabled());

    SetText(&dlg, IDC_EDIT_TIMEOUT, "-1");
    dlg.SendCommand(IDC_OK_BUTTON);
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{"Invalid timeout"});
    EXPECT_EQ(pModbus->GetTimeout(), 900u);
    EXPECT_EQ(dlg.GetConnection(), pConnection);  // an edited record stays

    dlg.show();
    auto* pTimeout = Ctl<QLineEdit>(&dlg, IDC_EDIT_TIMEOUT);
    pTimeout->setText("750");
    pTimeout->setFocus();
    QTest::keyClick(pTimeout, Qt::Key_Return);
    EXPECT_TRUE(WaitFor([&] { return dlg.result() == IDOK; }));
    EXPECT_EQ(pModbus->GetTimeout(), 750u);
    EXPECT_EQ(pModbus->GetPort(), sim.m_nPort);
    EXPECT_TRUE(pModbus->IsConnected());
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{"plc"});
}

// A listener whose accept queue a first connection has filled: the kernel
// drops every later handshake until that one is taken, so a connection
// waits out its whole time-out.
class NeverAccepting : public RemoteServerDlg {
protected:
    void SetUp() override {
        m_filler.Create();
        m_filler.Connect(m_listener.Address(), 1000);
    }
    void TearDown() override {
        m_filler.CloseQuietly();
        RemoteServerDlg::TearDown();
    }
    CString Port() const { return std::to_string(m_listener.Port()); }

    CListener m_listener{0};
    CBlockingSocket m_filler;
};

// "Connection Error", then where the connection failed and why, for each
// real cause.
enum class EPeer { Refusing, NeverAccepting, UnknownHost };

class ConnectionErrorCause : public NeverAccepting, public testing::WithParamInterface<EPeer> {};

TEST_P(ConnectionErrorCause, FollowsTheHeading) {
    CString strHost = "127.0.0.1";
    CString strPort = Port();
    CString strCause;
    switch (GetParam()) {
        case EPeer::Refusing:
            strPort = std::to_string(ClosedPort());
            strCause = "127.0.0.1:" + strPort + ": connection refused";
            break;
        case EPeer::NeverAccepting:
            strCause = "127.0.0.1:" + strPort + ": no answer within 300 ms";
            break;
        case EPeer::UnknownHost:
            strHost = "no-such-host.invalid";
            strCause = "no-such-host.invalid: host name not found";
            break;
    }
    auto pDlg = Ok(strHost, strPort, "300");
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{"Connection Error\n" + strCause});
    EXPECT_EQ(pDlg->GetConnection(), nullptr);
    EXPECT_EQ(theConnections.GetCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Peers, ConnectionErrorCause,
                         testing::Values(EPeer::Refusing, EPeer::NeverAccepting,
                                         EPeer::UnknownHost),
                         [](const testing::TestParamInfo<EPeer>& info) {
                             return info.param == EPeer::Refusing         ? "Refusing"
                                    : info.param == EPeer::NeverAccepting ? "NeverAccepting"
                                                                          : "UnknownHost";
                         });

// Connecting with a 20 s time-out: the window answers, and Cancel abandons
// the attempt, whose own success comes later.
TEST_F(NeverAccepting, TheWindowAnswersAndCancelAbandonsTheAttempt) {
    auto pDlg = New();
    pDlg->show();
    Type(*pDlg, "127.0.0.1", Port(), "20000");
    const auto start = std::chrono::steady_clock::now();
    pDlg->SendCommand(IDC_OK_BUTTON);
    ExpectAnswersWhileConnecting(
        pDlg.get(), IDC_OK_BUTTON, [&] { return pDlg->IsConnecting(); }, "127.0.0.1:" + Port(),
        std::chrono::steady_clock::now() - start);
    ExpectCancelAbandonsTheAttempt(*pDlg, m_boxes, [this] {
        // Room in the queue: the attempt's handshake gets through on one of
        // its retransmissions.
        CUniqueFd first(m_listener.Accept());
        CUniqueFd late(m_listener.Accept(5000));
        EXPECT_TRUE(late.IsValid());
    });
}

class TlsDlg : public RemoteServerDlg {
protected:
    void SetUp() override { ASSERT_TRUE(m_certs.Ok()); }

    void TypeFiles(CRemoteServerDlg& dlg, const char* pszCert, const char* pszKey) {
        SetText(&dlg, IDC_EDIT_CA_FILE, m_certs.Path("ca.pem"));
        SetText(&dlg, IDC_EDIT_CERT_FILE, m_certs.Path(pszCert));
        SetText(&dlg, IDC_EDIT_KEY_FILE, m_certs.Path(pszKey));
    }
    // Answers the passphrase dialog with pszPassphrase, or cancels it when
    // null; *pstrLabel: what it asked.
    static void AnswerPassphrase(const char* pszPassphrase, QString* pstrLabel) {
        WhenModal([pszPassphrase, pstrLabel](QWidget* pModal) {
            auto* pAsk = qobject_cast<QInputDialog*>(pModal);
            ASSERT_NE(pAsk, nullptr);
            *pstrLabel = pAsk->labelText();
            EXPECT_EQ(pAsk->textEchoMode(), QLineEdit::Password);
            if (pszPassphrase == nullptr) {
                pAsk->reject();
            } else {
                pAsk->setTextValue(pszPassphrase);
                pAsk->accept();
            }
        });
    }

    CTestCertificates m_certs;
};

// Each file is checked before anything connects, and what is wrong is said.
struct CRefusal {
    const char* pszCase;
    int nField;              // the edit given strValue; the others hold good files
    const char* pszValue;    // "DIR": a directory
    const char* pszMessage;  // with the value after it where it ends in ':'
};

class TlsRefusal : public TlsDlg, public testing::WithParamInterface<CRefusal> {};

TEST_P(TlsRefusal, SaysWhichFileAndConnectsNothing) {
    const CRefusal& c = GetParam();
    auto pDlg = New(CONNECTION_TLS);
    Type(*pDlg, "127.0.0.1", std::to_string(ClosedPort()), "2000");
    TypeFiles(*pDlg, "client.pem", "client.key");
    const CString strValue =
        CString(c.pszValue) == "DIR"
            ? std::filesystem::path(m_certs.Path("ca.pem")).parent_path().string()
            : CString(c.pszValue);
    SetText(pDlg.get(), c.nField, strValue);
    pDlg->SendCommand(IDC_OK_BUTTON);
    EXPECT_FALSE(pDlg->IsConnecting());
    CString strMessage = c.pszMessage;
    if (strMessage.back() == ':') {
        strMessage += "\n" + strValue;
    }
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{strMessage});
    EXPECT_EQ(pDlg->result(), 0);  // still open
    EXPECT_EQ(theConnections.GetCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TlsRefusal,
    testing::Values(CRefusal{"NoCa", IDC_EDIT_CA_FILE, "  ", "Choose the CA certificate file"},
                    CRefusal{"NoCert", IDC_EDIT_CERT_FILE, "",
                             "Choose the client certificate file"},
                    CRefusal{"NoKey", IDC_EDIT_KEY_FILE, "", "Choose the private key file"},
                    CRefusal{"MissingCa", IDC_EDIT_CA_FILE, "/nonexistent/ca.pem",
                             "The CA certificate file does not exist:"},
                    CRefusal{"MissingKey", IDC_EDIT_KEY_FILE, "/nonexistent/client.key",
                             "The private key file does not exist:"},
                    CRefusal{"CertIsADirectory", IDC_EDIT_CERT_FILE, "DIR",
                             "The client certificate file is not a file:"}),
    [](const testing::TestParamInfo<CRefusal>& info) { return info.param.pszCase; });

// Browse puts the chosen file in its own field; the encrypted key's
// passphrase is asked once per OK, and a cancelled question starts nothing.
// Connected to the simulator over TLS (client certificates required), the
// record holds the three files and reads.
TEST_F(TlsDlg, FilesPassphraseAndTheRecordMade) {
    CTcpSim sim({"--transport", "tls", "--tls-cert", m_certs.Path("device.pem"), "--tls-key",
                 m_certs.Path("device.key"), "--tls-ca", m_certs.Path("ca.pem"), "--holding",
                 "0=11,22,33"});
    ASSERT_NE(sim.m_nPort, 0);
    auto pDlg = New(CONNECTION_TLS);
    EXPECT_EQ(pDlg->windowTitle(), "Modbus/TCP Security Connection");
    EXPECT_EQ(Text(pDlg.get(), IDC_EDIT_PORT), "802");
    const std::pair<int, int> browse[] = {{IDC_BUTTON_BROWSE_CA, IDC_EDIT_CA_FILE},
                                          {IDC_BUTTON_BROWSE_CERT, IDC_EDIT_CERT_FILE},
                                          {IDC_BUTTON_BROWSE_KEY, IDC_EDIT_KEY_FILE}};
    for (const auto& [nButton, nEdit] : browse) {
        CFileDialogAnswer answer("/chosen/" + std::to_string(nButton));
        Click(pDlg.get(), nButton);
        EXPECT_EQ(answer.m_nShown, 1);
        EXPECT_EQ(Text(pDlg.get(), nEdit).toStdString(), "/chosen/" + std::to_string(nButton));
    }

    Type(*pDlg, "127.0.0.1", sim.Port(), "2000");
    TypeFiles(*pDlg, "client.pem", "client-enc.key");
    QString strAsked;
    AnswerPassphrase(nullptr, &strAsked);
    pDlg->SendCommand(IDC_OK_BUTTON);
    EXPECT_EQ(strAsked.toStdString(), "Passphrase for " + m_certs.Path("client-enc.key") + ":");
    EXPECT_FALSE(pDlg->IsConnecting());
    EXPECT_TRUE(m_boxes.Texts().empty());
    EXPECT_EQ(theConnections.GetCount(), 0u);

    AnswerPassphrase(CTestCertificates::PASSPHRASE, &strAsked);
    Ok(*pDlg);
    ASSERT_EQ(pDlg->result(), IDOK) << (m_boxes.Texts().empty() ? "" : m_boxes.Texts()[0]);
    ASSERT_EQ(ConnectionNames(), std::vector<CString>{"tls:127.0.0.1:" + sim.Port()});
    CConnection* pConnection = pDlg->GetConnection();
    EXPECT_EQ(pConnection->GetType(), CONNECTION_TLS);
    auto* pTls = dynamic_cast<CTlsModbus*>(pConnection->GetRemoteModbus());
    ASSERT_NE(pTls, nullptr);
    EXPECT_EQ(pTls->GetCaFile(), m_certs.Path("ca.pem"));
    EXPECT_EQ(pTls->GetCertFile(), m_certs.Path("client.pem"));
    EXPECT_EQ(pTls->GetKeyFile(), m_certs.Path("client-enc.key"));
    EXPECT_EQ(ReadThrough(pConnection), (std::vector<WORD>{11, 22, 33}));
}

// Edit shows the record's files and keeps address and port; new files are
// kept even when the connection then fails, as the time-out is.
TEST_F(TlsDlg, EditKeepsTheFilesGiven) {
    const WORD nPort = ClosedPort();
    CConnection* pConnection = theConnections.Add("secure", CONNECTION_TLS);
    auto* pTls = dynamic_cast<CTlsModbus*>(pConnection->GetRemoteModbus());
    ASSERT_NE(pTls, nullptr);
    pTls->SetHost("127.0.0.1");
    pTls->SetPort(nPort);
    pTls->SetTimeout(900);
    pTls->SetCaFile(m_certs.Path("ca.pem"));
    pTls->SetCertFile(m_certs.Path("device.pem"));
    pTls->SetKeyFile(m_certs.Path("device.key"));
    CRemoteServerDlg dlg(CONNECTION_TLS, nullptr);
    dlg.SetConnection(pConnection);
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(Text(&dlg, IDC_EDIT_CA_FILE).toStdString(), m_certs.Path("ca.pem"));
    EXPECT_EQ(Text(&dlg, IDC_EDIT_KEY_FILE).toStdString(), m_certs.Path("device.key"));
    EXPECT_FALSE(GetDlgItem(&dlg, IDC_EDIT_PORT)->isEnabled());
    EXPECT_TRUE(GetDlgItem(&dlg, IDC_EDIT_CERT_FILE)->isEnabled());

    SetText(&dlg, IDC_EDIT_TIMEOUT, "700");
    TypeFiles(dlg, "client.pem", "client-enc.key");
    QString strAsked;
    AnswerPassphrase(CTestCertificates::PASSPHRASE, &strAsked);
    Ok(dlg);
    ASSERT_EQ(m_boxes.Texts().size(), 1u);
    EXPECT_EQ(m_boxes.Texts()[0].rfind("Connection Error\n127.0.0.1:" + std::to_string(nPort), 0),
              0u)
        << m_boxes.Texts()[0];
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(pTls->GetTimeout(), 700u);
    EXPECT_EQ(pTls->GetCertFile(), m_certs.Path("client.pem"));
    EXPECT_EQ(pTls->GetKeyFile(), m_certs.Path("client-enc.key"));
    EXPECT_EQ(pTls->GetPort(), nPort);
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{"secure"});
}
}  // namespace
