// The connection dialog for RTU over TCP, Modbus/UDP and Modbus/TCP Security:
// the two plain kinds against the simulator speaking them, the record each
// makes and a read through it; the secured kind's files, what is refused
// before anything connects, the passphrase of an encrypted key, the record
// made and read through, and Edit keeping the files given.
#include <QInputDialog>
#include <QLineEdit>

#include <chrono>
#include <filesystem>

#include "connections/Connections.h"
#include "connections/dialogs/RemoteServerDlg.h"
#include "res/Resource.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "transport/RemoteModbus.h"
#include "transport/TlsModbus.h"

namespace {

class HostKindDlg : public testing::Test {
protected:
    void TearDown() override { theConnections.RemoveAll(); }

    // A new-mode dialog of the kind, created, with the three fields typed in.
    static std::unique_ptr<CRemoteServerDlg> Fill(WORD nType, const CString& strPort,
                                                  const CString& strTimeout = "2000") {
        auto pDlg = std::make_unique<CRemoteServerDlg>(nType, nullptr);
        pDlg->m_bNew = TRUE;
        EXPECT_TRUE(pDlg->Create());
        SetText(pDlg.get(), IDC_EDIT_ADDRESS, "127.0.0.1");
        SetText(pDlg.get(), IDC_EDIT_PORT, strPort);
        SetText(pDlg.get(), IDC_EDIT_TIMEOUT, strTimeout);
        return pDlg;
    }
    static void OkAndWait(CRemoteServerDlg& dlg) {
        dlg.SendCommand(IDC_OK_BUTTON);
        EXPECT_TRUE(WaitFor([&] { return !dlg.IsConnecting(); }, std::chrono::seconds(10)));
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
    const char* pszTransport;  // the simulator's and the poller's name
    const char* pszTitle;
};

void PrintTo(const CKind& kind, std::ostream* pOut) {
    *pOut << kind.pszTransport;
}

class HostKindConnects : public HostKindDlg, public testing::WithParamInterface<CKind> {};

// The kind's title and port, then a record of the kind that reads from a
// device speaking only that kind.
TEST_P(HostKindConnects, MakesARecordOfItsKindThatReads) {
    const CKind& kind = GetParam();
    CTcpSim sim({"--transport", kind.pszTransport, "--holding", "0=11,22,33"});
    ASSERT_NE(sim.m_nPort, 0);
    auto pDlg = std::make_unique<CRemoteServerDlg>(kind.nType, nullptr);
    pDlg->m_bNew = TRUE;
    ASSERT_TRUE(pDlg->Create());
    EXPECT_EQ(pDlg->windowTitle().toStdString(), kind.pszTitle);
    EXPECT_EQ(Text(pDlg.get(), IDC_EDIT_PORT), "502");
    EXPECT_EQ(pDlg->GetDlgItem(IDC_EDIT_CA_FILE), nullptr);

    pDlg = Fill(kind.nType, sim.Port());
    OkAndWait(*pDlg);
    EXPECT_EQ(pDlg->result(), IDOK);
    EXPECT_TRUE(m_boxes.Texts().empty());
    const CString strName = CString(kind.pszTransport) + ":127.0.0.1:" + sim.Port();
    ASSERT_EQ(ConnectionNames(), std::vector<CString>{strName});
    CConnection* pConnection = pDlg->GetConnection();
    ASSERT_NE(pConnection, nullptr);
    EXPECT_EQ(pConnection->GetType(), kind.nType);
    EXPECT_EQ(pConnection->GetRemoteModbus()->GetTimeout(), 2000u);
    EXPECT_EQ(ReadThrough(pConnection), (std::vector<WORD>{11, 22, 33}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostKindConnects,
                         testing::Values(CKind{CONNECTION_RTU_OVER_TCP, "rtu-over-tcp",
                                               "RTU over TCP Connection"},
                                         CKind{CONNECTION_UDP, "udp", "Modbus/UDP Connection"}),
                         [](const testing::TestParamInfo<CKind>& info) {
                             return info.param.nType == CONNECTION_UDP ? "Udp" : "RtuOverTcp";
                         });

class TlsDlg : public HostKindDlg {
protected:
    void SetUp() override { ASSERT_TRUE(m_certs.Ok()); }

    std::unique_ptr<CRemoteServerDlg> FillTls(const CString& strPort, const CString& strCa,
                                              const CString& strCert, const CString& strKey) {
        auto pDlg = Fill(CONNECTION_TLS, strPort);
        SetText(pDlg.get(), IDC_EDIT_CA_FILE, strCa);
        SetText(pDlg.get(), IDC_EDIT_CERT_FILE, strCert);
        SetText(pDlg.get(), IDC_EDIT_KEY_FILE, strKey);
        return pDlg;
    }
    // Answers the passphrase dialog with strPassphrase, or cancels it when
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
    const WORD nPort = ClosedPort();
    auto pDlg = FillTls(std::to_string(nPort), m_certs.Path("ca.pem"), m_certs.Path("client.pem"),
                        m_certs.Path("client.key"));
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
    const CString strPort = sim.Port();
    ASSERT_NE(sim.m_nPort, 0);
    auto pDlg = std::make_unique<CRemoteServerDlg>(CONNECTION_TLS, nullptr);
    pDlg->m_bNew = TRUE;
    ASSERT_TRUE(pDlg->Create());
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

    pDlg = FillTls(strPort, m_certs.Path("ca.pem"), m_certs.Path("client.pem"),
                   m_certs.Path("client-enc.key"));
    QString strAsked;
    AnswerPassphrase(nullptr, &strAsked);
    pDlg->SendCommand(IDC_OK_BUTTON);
    EXPECT_EQ(strAsked.toStdString(), "Passphrase for " + m_certs.Path("client-enc.key") + ":");
    EXPECT_FALSE(pDlg->IsConnecting());
    EXPECT_TRUE(m_boxes.Texts().empty());
    EXPECT_EQ(theConnections.GetCount(), 0u);

    AnswerPassphrase(CTestCertificates::PASSPHRASE, &strAsked);
    OkAndWait(*pDlg);
    ASSERT_EQ(pDlg->result(), IDOK) << (m_boxes.Texts().empty() ? "" : m_boxes.Texts()[0]);
    ASSERT_EQ(ConnectionNames(), std::vector<CString>{"tls:127.0.0.1:" + strPort});
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
    SetText(&dlg, IDC_EDIT_CERT_FILE, m_certs.Path("client.pem"));
    SetText(&dlg, IDC_EDIT_KEY_FILE, m_certs.Path("client-enc.key"));
    QString strAsked;
    AnswerPassphrase(CTestCertificates::PASSPHRASE, &strAsked);
    OkAndWait(dlg);
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
