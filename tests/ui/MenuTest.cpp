// The menus as the user sees them, their switch with the active document,
// the accelerators and the titles.
#include <gtest/gtest.h>

#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>

#include "UiTestSupport.h"
#include "connections/Connections.h"
#include "platform/ui/AfxRes.h"
#include "platform/ui/CmdUI.h"
#include "platform/ui/MDIChildWnd.h"
#include "res/RegprobeResources.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "shell/RegprobeView.h"

namespace {
// "title" for pop-ups (then their items indented), "text=id" for items,
// "-" for separators.
std::vector<std::string> Describe(const QList<QAction*>& actions, const std::string& indent = "") {
    std::vector<std::string> lines;
    for (QAction* pAction : actions) {
        if (pAction->isSeparator()) {
            lines.push_back(indent + "-");
        } else if (pAction->menu() != nullptr) {
            lines.push_back(indent + pAction->text().toStdString());
            for (const std::string& line : Describe(pAction->menu()->actions(), indent + "  ")) {
                lines.push_back(line);
            }
        } else {
            lines.push_back(indent + pAction->text().toStdString() + "=" +
                            std::to_string(GetActionCommandId(pAction)));
        }
    }
    return lines;
}

const std::vector<std::string> kNoDocumentMenu = {"&File",
                                                  "  &New\tCtrl+N=57600",
                                                  "  -",
                                                  "  E&xit=57665",
                                                  "&View",
                                                  "  &Toolbar=59392",
                                                  "  &Status Bar=59393",
                                                  "&Options",
                                                  "  &Connections...=32775",
                                                  "  &Register Type Library...=32777",
                                                  "&Help",
                                                  "  &About Regprobe...=57664"};

const std::vector<std::string> kDocumentMenu = {"&File",
                                                "  &New\tCtrl+N=57600",
                                                "  &Close=57602",
                                                "  -",
                                                "  E&xit=57665",
                                                "&View",
                                                "  &Toolbar=59392",
                                                "  &Status Bar=59393",
                                                "&Window",
                                                "  &New Window=57648",
                                                "  &Cascade=57650",
                                                "  &Tile=57651",
                                                "  &Arrange Icons=57649",
                                                "&Help",
                                                "  &About Regprobe...=57664"};

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_app.InitInstance());
        m_pFrame = MainFrame();
    }
    void TearDown() override { theConnections.RemoveAll(); }

    CTestApp m_app{{"-Embedding"}};
    CMainFrame* m_pFrame = nullptr;
    CMessageBoxRecorder m_boxes;
};
}  // namespace

TEST_F(MenuTest, MenuBarFollowsTheActiveDocument) {
    EXPECT_EQ(Describe(m_pFrame->menuBar()->actions()), kNoDocumentMenu);

    theConnections.Add("127.0.0.1:1502", CONNECTION_OPEN_MODBUS);
    m_pFrame->SendCommand(ID_FILE_NEW);
    ASSERT_NE(m_pFrame->MDIGetActive(), nullptr);
    EXPECT_EQ(Describe(m_pFrame->menuBar()->actions()), kDocumentMenu);
    EXPECT_EQ(m_pFrame->windowTitle(), QStringLiteral("Regprobe - Regpro1"));
    EXPECT_EQ(m_pFrame->MDIGetActive()->windowTitle(), QStringLiteral("Regpro1"));
    EXPECT_NE(dynamic_cast<CRegprobeView*>(m_pFrame->MDIGetActive()->GetActiveView()), nullptr);

    m_pFrame->SendCommand(ID_FILE_CLOSE);
    EXPECT_TRUE(WaitFor([&] { return m_pFrame->GetMDIClient()->subWindowList().isEmpty(); }));
    EXPECT_EQ(m_pFrame->MDIGetActive(), nullptr);
    EXPECT_EQ(Describe(m_pFrame->menuBar()->actions()), kNoDocumentMenu);
    EXPECT_EQ(m_pFrame->windowTitle(), QStringLiteral("Regprobe"));
}

TEST_F(MenuTest, SecondWindowOfADocumentIsNumbered) {
    theConnections.Add("127.0.0.1:1502", CONNECTION_OPEN_MODBUS);
    m_pFrame->SendCommand(ID_FILE_NEW);
    m_pFrame->SendCommand(ID_WINDOW_NEW);
    QStringList titles;
    for (QMdiSubWindow* pWindow :
         m_pFrame->GetMDIClient()->subWindowList(QMdiArea::CreationOrder)) {
        titles << pWindow->windowTitle();
    }
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Regpro1:1"), QStringLiteral("Regpro1:2")}));

    // Closing one window leaves the document with a single, unnumbered one.
    m_pFrame->MDIGetActive()->close();
    ASSERT_TRUE(WaitFor([&] { return m_pFrame->GetMDIClient()->subWindowList().size() == 1; }));
    EXPECT_EQ(m_pFrame->GetMDIClient()->subWindowList().front()->windowTitle(),
              QStringLiteral("Regpro1"));

    // The next document is the second one.
    m_pFrame->SendCommand(ID_FILE_NEW);
    EXPECT_EQ(m_pFrame->MDIGetActive()->windowTitle(), QStringLiteral("Regpro2"));
}

TEST_F(MenuTest, WindowMenuListsTheDocumentWindows) {
    theConnections.Add("127.0.0.1:1502", CONNECTION_OPEN_MODBUS);
    m_pFrame->SendCommand(ID_FILE_NEW);
    m_pFrame->SendCommand(ID_FILE_NEW);
    QMenu* pWindowMenu = m_pFrame->menuBar()->actions().at(2)->menu();
    ASSERT_EQ(pWindowMenu->title(), QStringLiteral("&Window"));
    emit pWindowMenu->aboutToShow();
    std::vector<std::string> lines = Describe(pWindowMenu->actions());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "-");
    EXPECT_EQ(lines[5], "&1 Regpro1=" + std::to_string(AFX_IDM_FIRST_MDICHILD));
    EXPECT_EQ(lines[6], "&2 Regpro2=" + std::to_string(AFX_IDM_FIRST_MDICHILD + 1));
    EXPECT_TRUE(pWindowMenu->actions().at(6)->isChecked());

    pWindowMenu->actions().at(5)->trigger();
    EXPECT_EQ(m_pFrame->MDIGetActive()->windowTitle(), QStringLiteral("Regpro1"));
    // Shown again, the list is rebuilt rather than added to.
    emit pWindowMenu->aboutToShow();
    EXPECT_EQ(pWindowMenu->actions().size(), 7);
}

TEST_F(MenuTest, ViewItemsToggleAndCheckTheBars) {
    QMenu* pViewMenu = m_pFrame->menuBar()->actions().at(1)->menu();
    QAction* pToolbar = pViewMenu->actions().at(0);
    QAction* pStatusBar = pViewMenu->actions().at(1);
    emit pViewMenu->aboutToShow();
    EXPECT_TRUE(pToolbar->isChecked());
    EXPECT_TRUE(pStatusBar->isChecked());

    pToolbar->trigger();
    EXPECT_FALSE(m_pFrame->m_wndToolBar.isVisible());
    pStatusBar->trigger();
    EXPECT_FALSE(m_pFrame->m_wndStatusBar.isVisible());
    emit pViewMenu->aboutToShow();
    EXPECT_FALSE(pToolbar->isChecked());
    EXPECT_FALSE(pStatusBar->isChecked());

    pToolbar->trigger();
    EXPECT_TRUE(m_pFrame->m_wndToolBar.isVisible());
}

TEST_F(MenuTest, CommandsWithoutHandlerAreDisabled) {
    // The framework's rule: a menu item nobody handles is greyed. Here that
    // is Close and the window commands while no document is open.
    theConnections.Add("127.0.0.1:1502", CONNECTION_OPEN_MODBUS);
    m_pFrame->SendCommand(ID_FILE_NEW);
    QMenu* pFileMenu = m_pFrame->menuBar()->actions().at(0)->menu();
    emit pFileMenu->aboutToShow();
    for (QAction* pAction : pFileMenu->actions()) {
        EXPECT_TRUE(pAction->isSeparator() || pAction->isEnabled())
            << pAction->text().toStdString();
    }
    CCmdUI state(ID_EDIT_COPY);
    state.DoUpdate(m_pFrame, TRUE);
    EXPECT_FALSE(state.m_bEnabled);
}

TEST(TrayMenuTest, HoldsItsFiveItemsInOrder) {
    AfxSetResourceHandle(&RegprobeResources());
    HMENU hMenu = LoadMenu(AfxGetResourceHandle(), IDR_TRAYICON);
    ASSERT_NE(hMenu, nullptr);
    EXPECT_EQ(Describe(hMenu->actions()),
              (std::vector<std::string>{"Tray", "  Poll Device=32805", "  &Connections...=32803",
                                        "  &Terminate=32776", "  -", "  &About=57664"}));
    DestroyMenu(hMenu);
}

TEST(AcceleratorTest, TableMapsKeysToCommands) {
    const CAcceleratorTable* pTable = RegprobeResources().FindAccelerators(IDR_MAINFRAME);
    ASSERT_NE(pTable, nullptr);
    struct Entry {
        BYTE mods;
        WORD key;
        WORD cmd;
    };
    const Entry expected[] = {
        {FCONTROL, 'N', 57600},       {FCONTROL, 'O', 57601},     {FCONTROL, 'S', 57603},
        {FCONTROL, 'Z', 57643},       {FCONTROL, 'X', 57635},     {FCONTROL, 'C', 57634},
        {FCONTROL, 'V', 57637},       {FALT, VK_BACK, 57643},     {FSHIFT, VK_DELETE, 57635},
        {FCONTROL, VK_INSERT, 57634}, {FSHIFT, VK_INSERT, 57637}, {0, VK_F6, 57680},
        {FSHIFT, VK_F6, 57681}};
    ASSERT_EQ(pTable->entries.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const ACCEL& a = pTable->entries[i];
        EXPECT_TRUE(a.fVirt & FVIRTKEY);
        EXPECT_EQ(a.fVirt & (FCONTROL | FSHIFT | FALT), expected[i].mods) << i;
        EXPECT_EQ(a.key, expected[i].key) << i;
        EXPECT_EQ(a.cmd, expected[i].cmd) << i;
    }
}
