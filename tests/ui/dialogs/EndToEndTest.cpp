// From start-up to a device window: the application, offscreen, gets an Open
// Modbus connection to the simulator through its menu and dialogs; "&New"
// then opens a test window, and the connection reads the simulator.
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>

#include "../UiTestSupport.h"
#include "DialogTestSupport.h"
#include "connections/Connections.h"
#include "platform/ui/DocTemplate.h"
#include "platform/ui/Menu.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"

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
    bool bFound = false;
    for (QAction* pPopup : m_pFrame->menuBar()->actions()) {
        for (QAction* pItem : pPopup->menu()->actions()) {
            if (GetActionCommandId(pItem) == ID_OPTIONS_CONNECTIONS) {
                bFound = true;
                pItem->trigger();
            }
        }
    }
    ASSERT_TRUE(bFound);
    EXPECT_EQ(lines, std::vector<CString>{strName});

    m_pFrame->SendCommand(ID_FILE_NEW);
    EXPECT_TRUE(m_boxes.m_boxes.empty());
    EXPECT_EQ(m_pFrame->GetMDIClient()->subWindowList().size(), 1);
    EXPECT_EQ(m_app.GetDocTemplates().front()->GetDocuments().size(), 1u);
    CConnection* pConnection = nullptr;
    ASSERT_TRUE(theConnections.Lookup(strName, pConnection));
    CWordArray values(3);
    EXPECT_EQ(pConnection->m_pModbus->ReadOutputRegisters(1, 0, 3, values), 0);
    EXPECT_EQ(values, (CWordArray{11, 22, 33}));
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
