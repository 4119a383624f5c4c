// Remote Server Connection against the simulator: new and edit modes, the
// refusals and their messages, Enter as "&OK".
#include <QLineEdit>
#include <QTest>

#include "DialogTestSupport.h"
#include "connections/Connections.h"
#include "connections/dialogs/RemoteServerDlg.h"
#include "res/Resource.h"
#include "transport/RemoteModbus.h"

namespace {
class RemoteServerDlg : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_sim.m_bStarted); }
    void TearDown() override { theConnections.RemoveAll(); }

    // A new-mode dialog, built but not run, with its three fields typed in.
    std::unique_ptr<CRemoteServerDlg> NewDialog(const char* pszAddress, const CString& strPort,
                                                const char* pszTimeout) {
        auto pDlg = std::make_unique<CRemoteServerDlg>();
        pDlg->m_bNew = TRUE;
        EXPECT_TRUE(pDlg->Create());
        SetText(pDlg.get(), IDC_EDIT_ADDRESS, pszAddress);
        SetText(pDlg.get(), IDC_EDIT_PORT, strPort.c_str());
        SetText(pDlg.get(), IDC_EDIT_TIMEOUT, pszTimeout);
        return pDlg;
    }

    CTcpSim m_sim;
    CScriptedBoxes m_boxes;
};

TEST_F(RemoteServerDlg, NewConnectsUnderTheTrimmedNameAndRefusesItTwice) {
    auto pDlg = NewDialog("127.0.0.1  ", "  " + m_sim.Port() + " ", "1500");
    pDlg->SendCommand(IDC_OK_BUTTON);
    EXPECT_EQ(pDlg->result(), IDOK);
    EXPECT_TRUE(m_boxes.m_texts.empty());
    const CString strName = "127.0.0.1:" + m_sim.Port();
    ASSERT_EQ(ConnectionNames(), std::vector<CString>{strName});
    CConnection* pConnection = pDlg->GetConnection();
    ASSERT_NE(pConnection, nullptr);
    EXPECT_EQ(pConnection->GetType(), CONNECTION_OPEN_MODBUS);
    CRemoteModbus* pModbus = pConnection->GetRemoteModbus();
    EXPECT_TRUE(pModbus->IsConnected());
    EXPECT_EQ(pModbus->GetHost(), "127.0.0.1  ");  // as typed
    EXPECT_EQ(pModbus->GetPort(), m_sim.m_nPort);
    EXPECT_EQ(pModbus->GetTimeout(), 1500u);
    EXPECT_TRUE(pModbus->GetReconnect());
    CWordArray values(3);
    EXPECT_EQ(pModbus->ReadOutputRegisters(1, 0, 3, values), 0);
    EXPECT_EQ(values, (CWordArray{11, 22, 33}));

    auto pTwice = NewDialog("127.0.0.1", m_sim.Port(), "1500");
    pTwice->SendCommand(IDC_OK_BUTTON);
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>{"Connection Alredy Exist"});
    EXPECT_EQ(m_boxes.m_types, std::vector<UINT>{MB_OK});
    EXPECT_EQ(pTwice->GetConnection(), nullptr);
    EXPECT_EQ(pTwice->result(), 0);  // still open
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

TEST_F(RemoteServerDlg, RefusedTimeOutsPortsAndConnectionsCreateNothing) {
    // Negative and oversized values would wrap to weeks or to 0.
    for (const char* pszTimeout : {"", "abc", "0", "-5", "4294967296"}) {
        auto pDlg = NewDialog("127.0.0.1", m_sim.Port(), pszTimeout);
        pDlg->SendCommand(IDC_OK_BUTTON);
        EXPECT_EQ(pDlg->result(), 0) << pszTimeout;
        EXPECT_EQ(pDlg->GetConnection(), nullptr);
    }
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>(5, "Invalid timeout"));
    m_boxes.m_texts.clear();
    // 70000 would be cut to 4464.
    for (const char* pszPort : {"70000", "0", "65536", ""}) {
        auto pDlg = NewDialog("127.0.0.1", pszPort, "1000");
        pDlg->SendCommand(IDC_OK_BUTTON);
        EXPECT_EQ(pDlg->GetConnection(), nullptr) << pszPort;
    }
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>(4, "Invalid port"));
    m_boxes.m_texts.clear();

    auto pDlg = NewDialog("127.0.0.1", std::to_string(ClosedPort()), "1000");
    pDlg->SendCommand(IDC_OK_BUTTON);
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>{"Connection Error"});
    EXPECT_EQ(pDlg->GetConnection(), nullptr);
    EXPECT_EQ(pDlg->result(), 0);
    EXPECT_EQ(theConnections.GetCount(), 0u);
    // The same dialog, corrected, then succeeds: nothing of the failure stays.
    SetText(pDlg.get(), IDC_EDIT_PORT, m_sim.Port().c_str());
    pDlg->SendCommand(IDC_OK_BUTTON);
    EXPECT_EQ(pDlg->result(), IDOK);
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{"127.0.0.1:" + m_sim.Port()});
}

TEST_F(RemoteServerDlg, EditChangesOnlyTheTimeOut) {
    CConnection* pConnection = theConnections.Add("plc", CONNECTION_OPEN_MODBUS);
    CRemoteModbus* pModbus = pConnection->GetRemoteModbus();
    pModbus->SetHost("127.0.0.1");
    pModbus->SetPort(m_sim.m_nPort);
    pModbus->SetTimeout(900);

    CRemoteServerDlg dlg;
    dlg.SetConnection(pConnection);
    ASSERT_TRUE(dlg.Create());
    auto* pAddress = Ctl<QLineEdit>(&dlg, IDC_EDIT_ADDRESS);
    auto* pPort = Ctl<QLineEdit>(&dlg, IDC_EDIT_PORT);
    auto* pTimeout = Ctl<QLineEdit>(&dlg, IDC_EDIT_TIMEOUT);
    EXPECT_EQ(pAddress->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(pPort->text().toStdString(), m_sim.Port());
    EXPECT_EQ(pTimeout->text(), QStringLiteral("900"));
    EXPECT_FALSE(pAddress->isEnabled());
    EXPECT_FALSE(pPort->isEnabled());
    EXPECT_TRUE(pTimeout->isEnabled());

    pTimeout->setText(QStringLiteral("-1"));
    dlg.SendCommand(IDC_OK_BUTTON);
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>{"Invalid timeout"});
    EXPECT_EQ(pModbus->GetTimeout(), 900u);
    EXPECT_EQ(dlg.GetConnection(), pConnection);  // an edited record stays

    // Enter in the field is "&OK", the default button.
    dlg.show();
    pTimeout->setText(QStringLiteral("750"));
    pTimeout->setFocus();
    QTest::keyClick(pTimeout, Qt::Key_Return);
    EXPECT_EQ(dlg.result(), IDOK);
    EXPECT_EQ(pModbus->GetTimeout(), 750u);
    EXPECT_EQ(pModbus->GetHost(), "127.0.0.1");
    EXPECT_EQ(pModbus->GetPort(), m_sim.m_nPort);
    EXPECT_TRUE(pModbus->IsConnected());
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{"plc"});
}
}  // namespace
