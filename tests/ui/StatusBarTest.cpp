// The status bar: its panes, the idle text, the indicators and the prompts
// of commands under the pointer; the tool bar's tips.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "platform/ui/AfxRes.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "tests/support/ui/UiTestSupport.h"

using StatusBarTest = CFrameTest;

TEST_F(StatusBarTest, PanesAndIndicators) {
    CStatusBar& bar = m_pFrame->m_wndStatusBar;
    ASSERT_EQ(bar.GetCount(), 4);
    EXPECT_EQ(bar.GetItemID(1), ID_INDICATOR_CAPS);
    EXPECT_EQ(bar.GetPaneText(0), "Ready");
    EXPECT_EQ(bar.GetMessageText(), "Ready");

    // An indicator shows its text only while its key is on.
    const char* texts[] = {"CAP", "NUM", "SCRL"};
    for (int i = 1; i <= 3; ++i) {
        bar.EnablePane(i, TRUE);
        EXPECT_EQ(bar.GetPaneText(i), texts[i - 1]);
        bar.EnablePane(i, FALSE);
        EXPECT_EQ(bar.GetPaneText(i), "");
    }
}

TEST_F(StatusBarTest, MenuItemsShowTheirPromptsThenReadyAgain) {
    QMenu* pOptions = m_pFrame->menuBar()->actions().at(2)->menu();
    m_pFrame->menuBar()->setActiveAction(m_pFrame->menuBar()->actions().at(2));
    ASSERT_TRUE(WaitFor([&] { return pOptions->isVisible(); }));
    const char* prompts[] = {"Open/Remove Connections", "Register Type Library"};
    for (int i = 0; i < 2; ++i) {
        pOptions->setActiveAction(pOptions->actions().at(i));
        EXPECT_EQ(m_pFrame->m_wndStatusBar.GetMessageText(), prompts[i]);
    }
    pOptions->hide();
    m_pFrame->menuBar()->setActiveAction(nullptr);
    EXPECT_TRUE(WaitFor([&] { return m_pFrame->m_wndStatusBar.GetMessageText() == "Ready"; }));
}

TEST_F(StatusBarTest, ToolBarButtonsHaveTipsAndFlyByPrompts) {
    CToolBar& bar = m_pFrame->m_wndToolBar;
    EXPECT_EQ(bar.GetButton(ID_FILE_NEW)->toolTip(), QStringLiteral("New"));

    QWidget* pButton = bar.widgetForAction(bar.GetButton(ID_FILE_NEW));
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QCoreApplication::sendEvent(pButton, &enter);
    EXPECT_EQ(m_pFrame->m_wndStatusBar.GetMessageText(), "Create a new document");
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(pButton, &leave);
    EXPECT_EQ(m_pFrame->m_wndStatusBar.GetMessageText(), "Ready");
}
