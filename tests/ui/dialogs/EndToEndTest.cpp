// From start-up to a device window: the application, offscreen, gets an Open
// Modbus connection to the simulator through its menus and dialogs; "&New"
// then opens a test window and the connection reads the simulator's values.
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>

#include "../UiTestSupport.h"
#include "DialogTestSupport.h"
#include "connections/Connections.h"
#include "platform/ui/AfxRes.h"
#include "platform/ui/DocTemplate.h"
#include "platform/ui/Menu.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"

namespace {
QAction* MenuItem(CMainFrame* pFrame, UINT nID) {
    for (QAction* pPopup : pFrame->menuBar()->actions()) {
        for (QAction* pItem : pPopup->menu()->actions()) {
            if (GetActionCommandId(pItem) == nID) {
                return pItem;
            }
        }
    }
    return nullptr;
}

class EndToEnd : public CFrameTest {};

TEST_F(EndToEnd, ConnectionFromTheMenusThenATestWindow) {
    CTcpSim sim;
    ASSERT_TRUE(sim.m_bStarted);
    CScriptedBoxes boxes;
    const CString strName = "127.0.0.1:" + sim.Port();
    std::vector<CString> lines;
    WhenDialog("Connections", [&](CDialog* pConnections) {
        ASSERT_TRUE(Choose(pConnections, IDC_COMBO_TYPE, "Open Modbus"));
        WhenDialog("Remote Server Connection", [&](CDialog* pRemote) {
            SetText(pRemote, IDC_EDIT_ADDRESS, "127.0.0.1");
            SetText(pRemote, IDC_EDIT_PORT, sim.Port().c_str());
            SetText(pRemote, IDC_EDIT_TIMEOUT, "3000");
            Click(pRemote, IDC_OK_BUTTON);
        });
        Click(pConnections, IDC_BUTTON_ADD);
        lines = Lines(pConnections, IDC_LIST_CONNECTIONS);
        Click(pConnections, IDCANCEL);
    });
    QAction* pConnectionsItem = MenuItem(m_pFrame, ID_OPTIONS_CONNECTIONS);
    ASSERT_NE(pConnectionsItem, nullptr);
    pConnectionsItem->trigger();
    EXPECT_EQ(lines, std::vector<CString>{strName});
    EXPECT_FALSE(m_pFrame->m_bConnectionsDlgOpen);
    EXPECT_TRUE(boxes.m_texts.empty());

    MenuItem(m_pFrame, ID_FILE_NEW)->trigger();
    EXPECT_TRUE(boxes.m_texts.empty());
    ASSERT_EQ(m_pFrame->GetMDIClient()->subWindowList().size(), 1);
    EXPECT_EQ(m_app.GetDocTemplates().front()->GetDocuments().size(), 1u);

    // What a test window's poll does with the connection it selects.
    CConnection* pConnection = nullptr;
    ASSERT_TRUE(theConnections.Lookup(strName, pConnection));
    CWordArray values(3);
    EXPECT_EQ(pConnection->m_pModbus->ReadOutputRegisters(1, 0, 3, values), 0);
    EXPECT_EQ(values, (CWordArray{11, 22, 33}));

    // With the window open the dialog stays shut.
    m_pFrame->SendCommand(ID_TRAY_CONNECTIONS);
    EXPECT_EQ(boxes.m_texts,
              std::vector<CString>{"Close All documents before configuring connections"});
}
}  // namespace
