// Remote Server Connection against the simulator: new and edit modes, the
// refusals and their messages, Enter as "&OK".
#include <QLineEdit>
#include <QTest>

#include "connections/Connections.h"
#include "connections/dialogs/RemoteServerDlg.h"
#include "res/Resource.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "transport/RemoteModbus.h"

namespace {
class RemoteServerDlg : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(m_sim.m_nPort, 0); }
    void TearDown() override { theConnections.RemoveAll(); }

    // Runs "&OK" of a new-mode dialog with the three fields typed in.
    std::unique_ptr<CRemoteServerDlg> Ok(const CString& strAddress, const CString& strPort,
                                         const CString& strTimeout) {
        auto pDlg = std::make_unique<CRemoteServerDlg>();
        pDlg->m_bNew = TRUE;
        EXPECT_TRUE(pDlg->Create());
        SetText(pDlg.get(), IDC_EDIT_ADDRESS, strAddress);
        SetText(pDlg.get(), IDC_EDIT_PORT, strPort);
        SetText(pDlg.get(), IDC_EDIT_TIMEOUT, strTimeout);
        pDlg->SendCommand(IDC_OK_BUTTON);
        return pDlg;
    }

    CTcpSim m_sim;
    CMessageBoxRecorder m_boxes;
};

TEST_F(RemoteServerDlg, NewConnectsUnderTheTrimmedNameOnce) {
    auto pDlg = Ok("127.0.0.1  ", "  " + m_sim.Port() + " ", "1500");
    EXPECT_EQ(pDlg->result(), IDOK);
    const CString strName = "127.0.0.1:" + m_sim.Port();
    ASSERT_EQ(ConnectionNames(), std::vector<CString>{strName});
    ASSERT_NE(pDlg->GetConnection(), nullptr);
    CRemoteModbus* pModbus = pDlg->GetConnection()->GetRemoteModbus();
    EXPECT_TRUE(pModbus->IsConnected());
    EXPECT_EQ(pModbus->GetHost(), "127.0.0.1  ");  // as typed
    EXPECT_EQ(pModbus->GetPort(), m_sim.m_nPort);
    EXPECT_EQ(pModbus->GetTimeout(), 1500u);
    EXPECT_TRUE(pModbus->GetReconnect());

    auto pTwice = Ok("127.0.0.1", m_sim.Port(), "1500");
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{"Connection Alredy Exist"});
    EXPECT_EQ(m_boxes.m_boxes[0].nType, UINT(MB_OK));
    EXPECT_EQ(pTwice->GetConnection(), nullptr);
    EXPECT_EQ(pTwice->result(), 0);  // still open
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

TEST_F(RemoteServerDlg, RefusedTimeOutsPortsAndConnectionsCreateNothing) {
    // Negative and oversized values would wrap to weeks, or to 0; a port
    // beyond 16 bits to another port.
    std::vector<CString> expected;
    for (const char* pszTimeout : {"", "abc", "0", "-5", "4294967296"}) {
        EXPECT_EQ(Ok("127.0.0.1", m_sim.Port(), pszTimeout)->GetConnection(), nullptr);
        expected.push_back("Invalid timeout");
    }
    for (const char* pszPort : {"70000", "0", ""}) {
        EXPECT_EQ(Ok("127.0.0.1", pszPort, "1000")->GetConnection(), nullptr);
        expected.push_back("Invalid port");
    }
    auto pDlg = Ok("127.0.0.1", std::to_string(ClosedPort()), "1000");
    expected.push_back("Connection Error");
    EXPECT_EQ(pDlg->GetConnection(), nullptr);
    EXPECT_EQ(m_boxes.Texts(), expected);
    EXPECT_EQ(theConnections.GetCount(), 0u);

    // The same dialog, corrected: nothing of the failures is in the way.
    SetText(pDlg.get(), IDC_EDIT_PORT, m_sim.Port());
    pDlg->SendCommand(IDC_OK_BUTTON);
    EXPECT_EQ(pDlg->result(), IDOK);
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

TEST_F(RemoteServerDlg, EditChangesOnlyTheTimeOutAndEnterIsOk) {
    CConnection* pConnection = theConnections.Add("plc", CONNECTION_OPEN_MODBUS);
    CRemoteModbus* pModbus = pConnection->GetRemoteModbus();
    pModbus->SetHost("127.0.0.1");
    pModbus->SetPort(m_sim.m_nPort);
    pModbus->SetTimeout(900);
    CRemoteServerDlg dlg;
    dlg.SetConnection(pConnection);
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(Text(&dlg, IDC_EDIT_ADDRESS), "127.0.0.1");
    EXPECT_EQ(Text(&dlg, IDC_EDIT_PORT).toStdString(), m_sim.Port());
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
    EXPECT_EQ(dlg.result(), IDOK);
    EXPECT_EQ(pModbus->GetTimeout(), 750u);
    EXPECT_EQ(pModbus->GetPort(), m_sim.m_nPort);
    EXPECT_TRUE(pModbus->IsConnected());
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{"plc"});
}
}  // namespace
