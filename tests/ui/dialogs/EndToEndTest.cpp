// From start-up to a device window: the application, offscreen, gets an Open
// Modbus connection to the simulator through its menu and dialogs; "&New"
// then opens a test window, which polls the simulator through it.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>

#include "connections/Connections.h"
#include "platform/ui/DocTemplate.h"
#include "platform/ui/MDIChildWnd.h"
#include "platform/ui/Menu.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "testview/ui/RegprobeView.h"

namespace {
class EndToEnd : public CFrameTest {};

TEST_F(EndToEnd, ConnectionFromTheMenuThenATestWindow) {
    CTcpSim sim;
    const CString strName = "127.0.0.1:" + sim.Port();
    std::vector<CString> lines;
    WhenModal([&](QWidget* pConnections) {
        Choose(pConnections, IDC_COMBO_TYPE, "Open Modbus");
        WhenModal([&](QWidget* pRemote) {
            SetText(pRemote, IDC_EDIT_ADDRESS, "127.0.0.1");
            SetText(pRemote, IDC_EDIT_PORT, sim.Port());
            SetText(pRemote, IDC_EDIT_TIMEOUT, "3000");
            Click(pRemote, IDC_OK_BUTTON);
        });
        Click(pConnections, IDC_BUTTON_ADD);
        lines = Lines(pConnections, IDC_LIST_CONNECTIONS);
        Click(pConnections, IDCANCEL);
    });
    // Options > Connections..., as the user picks it.
    QAction* pItem = MenuItem(m_pFrame, ID_OPTIONS_CONNECTIONS);
    ASSERT_NE(pItem, nullptr);
    pItem->trigger();
    EXPECT_EQ(lines, std::vector<CString>{strName});

    m_pFrame->SendCommand(ID_FILE_NEW);
    EXPECT_TRUE(m_boxes.m_boxes.empty());
    EXPECT_EQ(m_pFrame->GetMDIClient()->subWindowList().size(), 1);
    EXPECT_EQ(m_app.GetDocTemplates().front()->GetDocuments().size(), 1u);
    // The new window polls the simulator through the new connection.
    auto* pView = dynamic_cast<CRegprobeView*>(m_pFrame->MDIGetActive()->GetActiveView());
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->m_comboConnection->currentText().toStdString(), strName);
    pView->m_editInterval->setText("50");
    pView->m_checkEnablePoll->click();
    // A read through what the dialogs made; the rows it shows are TestView's.
    EXPECT_TRUE(WaitFor([&] { return pView->m_staticResult->text() == "Ok"; }));
    m_pFrame->SendCommand(ID_FILE_CLOSE);
    EXPECT_TRUE(m_app.GetDocTemplates().front()->GetDocuments().empty());
}

TEST_F(EndToEnd, TrayConnectionsOfAHiddenFrameShowsTheDialogAlone) {
    CNotifyIconRecorder shell;
    m_pFrame->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !m_pFrame->isVisible(); }));
    bool bShown = false;
    WhenModal([&](QWidget* pDialog) {
        bShown = pDialog->isVisible() && pDialog->windowTitle() == "Connections";
        EXPECT_FALSE(m_pFrame->isVisible());
        Click(pDialog, IDCANCEL);
    });
    m_pFrame->SendCommand(ID_TRAY_CONNECTIONS);
    EXPECT_TRUE(bShown);
}
}  // namespace
