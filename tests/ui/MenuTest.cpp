// The menus as the user sees them, their switch with the active document,
// and the titles.
#include <gtest/gtest.h>

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>
#include <functional>

#include "connections/Connections.h"
#include "platform/ui/AfxRes.h"
#include "platform/ui/CmdUI.h"
#include "platform/ui/MDIChildWnd.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "tests/support/ui/UiTestSupport.h"
#include "testview/ui/RegprobeView.h"

namespace {
// "text=id" for items, "-" for separators.
std::vector<std::string> Describe(const QList<QAction*>& actions) {
    std::vector<std::string> lines;
    for (QAction* pAction : actions) {
        lines.push_back(pAction->isSeparator() ? "-"
                                               : pAction->text().toStdString() + "=" +
                                                     std::to_string(GetActionCommandId(pAction)));
    }
    return lines;
}

// The pop-ups' titles, then the File menu's items.
std::vector<std::string> Outline(CMainFrame* pFrame) {
    std::vector<std::string> lines;
    for (QAction* pPopup : pFrame->menuBar()->actions()) {
        lines.push_back(pPopup->text().toStdString());
    }
    for (const std::string& line :
         Describe(pFrame->menuBar()->actions().at(0)->menu()->actions())) {
        lines.push_back(line);
    }
    return lines;
}

// The workspace's commands and its recent files after New (and Close).
const std::vector<std::string> kWorkspaceItems = {"-",
                                                  "&Open Workspace...=32815",
                                                  "&Save Workspace=32816",
                                                  "Save Workspace &As...=32817",
                                                  "-",
                                                  "Recent Workspace=32819",
                                                  "Recent Workspace=32820",
                                                  "Recent Workspace=32821",
                                                  "Recent Workspace=32822",
                                                  "-",
                                                  "E&xit=57665"};
std::vector<std::string> Menu(std::vector<std::string> head) {
    head.insert(head.end(), kWorkspaceItems.begin(), kWorkspaceItems.end());
    return head;
}
const std::vector<std::string> kNoDocumentMenu =
    Menu({"&File", "&View", "&Options", "&Tools", "&Help", "&New\tCtrl+N=57600"});
const std::vector<std::string> kDocumentMenu =
    Menu({"&File", "&View", "&Tools", "&Window", "&Help", "&New\tCtrl+N=57600", "&Close=57602"});

using MenuTest = CFrameTest;
}  // namespace

TEST_F(MenuTest, MenuBarFollowsTheActiveDocument) {
    EXPECT_EQ(Outline(m_pFrame), kNoDocumentMenu);

    theConnections.Add("127.0.0.1:1502", CONNECTION_OPEN_MODBUS);
    m_pFrame->SendCommand(ID_FILE_NEW);
    ASSERT_NE(m_pFrame->MDIGetActive(), nullptr);
    EXPECT_EQ(Outline(m_pFrame), kDocumentMenu);
    EXPECT_EQ(m_pFrame->windowTitle(), QStringLiteral("Regprobe - Regpro1"));
    EXPECT_NE(dynamic_cast<CRegprobeView*>(m_pFrame->MDIGetActive()->GetActiveView()), nullptr);
    // Every item has its handler now; one nobody handles is greyed. With no
    // recent workspace, one greyed entry stands for the list.
    QMenu* pFileMenu = m_pFrame->menuBar()->actions().at(0)->menu();
    emit pFileMenu->aboutToShow();
    for (QAction* pAction : pFileMenu->actions()) {
        const UINT nID = GetActionCommandId(pAction);
        if (nID >= ID_FILE_RECENT_WORKSPACE1 &&
            nID < ID_FILE_RECENT_WORKSPACE1 + RECENT_WORKSPACE_COUNT) {
            EXPECT_EQ(pAction->isVisible(), nID == ID_FILE_RECENT_WORKSPACE1);
            EXPECT_FALSE(pAction->isEnabled());
            continue;
        }
        EXPECT_TRUE(pAction->isSeparator() || pAction->isEnabled())
            << pAction->text().toStdString();
    }
    CCmdUI state(ID_EDIT_COPY);
    state.DoUpdate(m_pFrame, TRUE);
    EXPECT_FALSE(state.m_bEnabled);

    m_pFrame->SendCommand(ID_FILE_CLOSE);
    EXPECT_TRUE(WaitFor([&] { return m_pFrame->GetMDIClient()->subWindowList().isEmpty(); }));
    EXPECT_EQ(m_pFrame->MDIGetActive(), nullptr);
    EXPECT_EQ(Outline(m_pFrame), kNoDocumentMenu);
    EXPECT_EQ(m_pFrame->windowTitle(), QStringLiteral("Regprobe"));
}

TEST_F(MenuTest, WindowsAreNumberedAndListedInTheWindowMenu) {
    theConnections.Add("127.0.0.1:1502", CONNECTION_OPEN_MODBUS);
    m_pFrame->SendCommand(ID_FILE_NEW);
    m_pFrame->SendCommand(ID_WINDOW_NEW);
    QMenu* pWindowMenu = m_pFrame->menuBar()->actions().at(3)->menu();
    emit pWindowMenu->aboutToShow();
    std::vector<std::string> lines = Describe(pWindowMenu->actions());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "-");
    EXPECT_EQ(lines[5], "&1 Regpro1:1=" + std::to_string(AFX_IDM_FIRST_MDICHILD));
    EXPECT_EQ(lines[6], "&2 Regpro1:2=" + std::to_string(AFX_IDM_FIRST_MDICHILD + 1));
    EXPECT_TRUE(pWindowMenu->actions().at(6)->isChecked());
    pWindowMenu->actions().at(5)->trigger();
    EXPECT_EQ(m_pFrame->MDIGetActive()->windowTitle(), QStringLiteral("Regpro1:1"));
    // Shown again, the list is rebuilt rather than added to.
    emit pWindowMenu->aboutToShow();
    EXPECT_EQ(pWindowMenu->actions().size(), 7);

    // Closing one window leaves the document with a single, unnumbered one.
    m_pFrame->MDIGetActive()->close();
    ASSERT_TRUE(WaitFor([&] { return m_pFrame->GetMDIClient()->subWindowList().size() == 1; }));
    EXPECT_EQ(m_pFrame->GetMDIClient()->subWindowList().front()->windowTitle(),
              QStringLiteral("Regpro1"));
    // The next document is the second one.
    m_pFrame->SendCommand(ID_FILE_NEW);
    EXPECT_EQ(m_pFrame->MDIGetActive()->windowTitle(), QStringLiteral("Regpro2"));
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

TEST_F(MenuTest, TileStacksFullWidthWindowsOneAboveTheOther) {
    theConnections.Add("127.0.0.1:1502", CONNECTION_OPEN_MODBUS);
    m_pFrame->SendCommand(ID_FILE_NEW);
    QMdiArea* pArea = m_pFrame->GetMDIClient();
    for (int nWindows : {2, 3}) {
        m_pFrame->SendCommand(ID_WINDOW_NEW);
        ASSERT_EQ(pArea->subWindowList().size(), nWindows);
        QMdiSubWindow* pActive = pArea->activeSubWindow();
        m_pFrame->SendCommand(ID_WINDOW_TILE_HORZ);

        QRect rcArea = pArea->viewport()->rect();
        std::vector<QRect> rects;
        for (QMdiSubWindow* pWindow : pArea->subWindowList()) {
            rects.push_back(pWindow->geometry());
        }
        std::sort(rects.begin(), rects.end(),
                  [](const QRect& a, const QRect& b) { return a.top() < b.top(); });
        // Edge to edge, no gap and no overlap, each as high as the others.
        int nTop = rcArea.top();
        for (const QRect& rc : rects) {
            EXPECT_EQ(rc.left(), rcArea.left()) << nWindows;
            EXPECT_EQ(rc.width(), rcArea.width()) << nWindows;
            EXPECT_EQ(rc.top(), nTop) << nWindows;
            EXPECT_LE(std::abs(rc.height() - rcArea.height() / nWindows), 1) << nWindows;
            nTop = rc.bottom() + 1;
        }
        EXPECT_EQ(nTop, rcArea.bottom() + 1) << nWindows;
        // The active window stays active, at the top.
        EXPECT_EQ(pArea->activeSubWindow(), pActive);
        EXPECT_EQ(pActive->geometry().top(), rcArea.top());
    }
}

namespace {
// Counts the paints of a widget.
class CPaintCounter : public QObject {
public:
    int m_nPaints = 0;

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override {
        m_nPaints += pEvent->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};
}  // namespace

TEST_F(MenuTest, EmptyAreaSaysWhatComesFirstAndIsPaintedAgainOnEachChange) {
    QWidget* pViewport = m_pFrame->GetMDIClient()->viewport();
    CPaintCounter paints;
    pViewport->installEventFilter(&paints);
    const CString strNoConnections = "No connections yet: Options > Connections... adds one.";
    const CString strOpenWindow = "File > New opens a test window.";
    // Each change, the text then shown, and a paint that shows it.
    const std::vector<std::pair<std::function<void()>, CString>> steps = {
        {[] {}, strNoConnections},
        {[] { theConnections.Add("127.0.0.1:1502", CONNECTION_OPEN_MODBUS); }, strOpenWindow},
        {[&] { m_pFrame->SendCommand(ID_FILE_NEW); }, ""},
        {[&] { m_pFrame->SendCommand(ID_FILE_CLOSE); }, strOpenWindow},
        {[] { theConnections.Remove("127.0.0.1:1502"); }, strNoConnections},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        Pump(std::chrono::milliseconds(50));
        paints.m_nPaints = 0;
        steps[i].first();
        EXPECT_TRUE(WaitFor([&] { return m_pFrame->EmptyAreaText() == steps[i].second; }))
            << "step " << i << ": " << m_pFrame->EmptyAreaText();
        if (i > 0) {
            EXPECT_TRUE(WaitFor([&] { return paints.m_nPaints > 0; })) << "step " << i;
        }
    }
    // With REGPROBE_PICTURE set, the frame is saved there as a PNG.
    if (const char* pszPicture = std::getenv("REGPROBE_PICTURE")) {
        EXPECT_TRUE(m_pFrame->grab().save(pszPicture, "PNG")) << pszPicture;
    }
    // The text is drawn: the empty area is no longer one flat colour.
    const QImage image = pViewport->grab().toImage();
    const QRgb background = image.pixel(0, 0);
    bool bDrawn = false;
    for (int x = 0; x < image.width() && !bDrawn; ++x) {
        bDrawn = image.pixel(x, image.height() / 2) != background;
    }
    EXPECT_TRUE(bDrawn);
}
