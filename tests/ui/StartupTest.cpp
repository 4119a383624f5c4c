// Start-up in its order, the three failure messages, the rule that a
// failure leaves no main window, and the command line.
#include <gtest/gtest.h>

#include <QApplication>

#include "connections/Connections.h"
#include "res/RegprobeResources.h"
#include "shell/MainFrm.h"
#include "shell/Splash.h"
#include "tests/support/ui/UiTestSupport.h"

namespace {
const char* const kOleFailed =
    "OLE initialization failed.  Make sure that the OLE libraries are the correct version.";

bool AnyMainFrame() {
    for (QWidget* pWidget : QApplication::topLevelWidgets()) {
        if (dynamic_cast<CMainFrame*>(pWidget) != nullptr) {
            return true;
        }
    }
    return false;
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override { CSplashWnd::EnableSplashScreen(FALSE); }
    CMessageBoxRecorder m_boxes;
};
}  // namespace

TEST_F(StartupTest, StartsInOrderWithAnEmptyFrame) {
    CTestApp app({"-Embedding"});
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.m_steps, (std::vector<std::string>{"dcom", "sockets", "com"}));
    CMainFrame* pFrame = MainFrame();
    ASSERT_NE(pFrame, nullptr);
    EXPECT_TRUE(pFrame->isVisible());
    EXPECT_EQ(pFrame->windowTitle(), QStringLiteral("Regprobe"));
    EXPECT_EQ(pFrame->MDIGetActive(), nullptr);
    EXPECT_TRUE(m_boxes.m_boxes.empty());
    EXPECT_EQ(theConnections.GetCount(), 0u);
}

TEST_F(StartupTest, EachFailureShowsItsMessageAndLeavesNoWindow) {
    struct Case {
        bool bDcom, bSockets, bCom;
        const char* pszText;
        UINT nType;
        std::vector<std::string> steps;
    };
    const Case cases[] = {
        {true, false, false, "DCOM OLE Not supported", MB_OK | MB_SYSTEMMODAL, {"dcom"}},
        {false, true, false, "Windows sockets initialization failed.", MB_OK, {"dcom", "sockets"}},
        {false, false, true, kOleFailed, MB_OK, {"dcom", "sockets", "com"}},
    };
    for (const Case& c : cases) {
        CMessageBoxRecorder boxes;
        CTestApp app;
        app.m_bFailDcom = c.bDcom;
        app.m_bFailSockets = c.bSockets;
        app.m_bFailCom = c.bCom;
        EXPECT_EQ(AfxWinMain(app), 0);
        EXPECT_EQ(app.m_steps, c.steps) << c.pszText;
        ASSERT_EQ(boxes.m_boxes.size(), 1u) << c.pszText;
        EXPECT_EQ(boxes.m_boxes[0].strText, c.pszText);
        EXPECT_EQ(boxes.m_boxes[0].nType, c.nType);
        EXPECT_EQ(AfxGetMainWnd(), nullptr);
        EXPECT_FALSE(AnyMainFrame());
        EXPECT_TRUE(app.GetDocTemplates().empty()) << "nothing after the failing step";
    }
}

TEST_F(StartupTest, AFrameThatCannotBeCreatedEndsStartUpQuietly) {
    // Without the tool bar's bitmap the frame's creation fails.
    CResourceModule module = RegprobeResources();
    module.m_bitmaps.clear();
    AfxSetResourceHandle(&module);
    {
        CTestApp app;
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(AfxGetMainWnd(), nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(AnyMainFrame());
    }
    AfxSetResourceHandle(&RegprobeResources());
    EXPECT_TRUE(m_boxes.m_boxes.empty());
}

TEST_F(StartupTest, CommandLineOpensNothingAndOnlyItsSwitchesSuppressTheSplash) {
    struct Case {
        std::vector<std::string> args;
        bool bSplash;
    };
    const Case cases[] = {
        {{"Regpr.cfg"}, true},        {{"-p", "x.cfg"}, true},
        {{"/Embedding", "a"}, false}, {{"-Automation", "file"}, false},
        {{"/eMbEdDiNg"}, false},  // automation switches ignore case
        {{"--Embedding"}, true},  // "-Embedding" is not a switch the parser knows
    };
    for (const Case& c : cases) {
        CSplashWnd::EnableSplashScreen(FALSE);
        CTestApp app(c.args);
        ASSERT_TRUE(app.InitInstance()) << c.args[0];
        EXPECT_EQ(MainFrame()->MDIGetActive(), nullptr) << c.args[0];
        EXPECT_TRUE(app.GetDocTemplates().front()->GetDocuments().empty()) << c.args[0];
        EXPECT_EQ(CSplashWnd::c_pSplashWnd != nullptr, c.bSplash) << c.args[0];
        if (CSplashWnd::c_pSplashWnd != nullptr) {
            CSplashWnd::c_pSplashWnd->HideSplashScreen();
        }
    }
    CSplashWnd::EnableSplashScreen(FALSE);
    EXPECT_TRUE(m_boxes.m_boxes.empty());
}
