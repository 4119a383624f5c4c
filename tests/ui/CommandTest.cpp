// Commands reach their handlers by id from menus, accelerators and the tool
// bar; the New refusal; the guarded Connections command; the ways out; the
// About box. A minimised About box is in x11/ShellX11Test.cpp.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "connections/Connections.h"
#include "platform/ui/AfxRes.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MDIChildWnd.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "tests/support/TypeLibBuilder.h"
#include "tests/support/ui/UiTestSupport.h"

namespace {
const char* const kNoConnections = "There are no connections to open new document";
const char* const kCloseDocuments = "Close All documents before configuring connections";

class CommandTest : public CFrameTest {
protected:
    void TearDown() override {
        CMainFrame::SetConnectionsDialog(nullptr);
        CFrameTest::TearDown();
    }
};
}  // namespace

TEST_F(CommandTest, NewReachesTheApplicationFromMenuKeyAndToolBar) {
    MenuItem(m_pFrame, ID_FILE_NEW)->trigger();
    QTest::keyClick(m_pFrame->windowHandle(), Qt::Key_N, Qt::ControlModifier);
    QWidget* pButton =
        m_pFrame->m_wndToolBar.widgetForAction(m_pFrame->m_wndToolBar.GetButton(ID_FILE_NEW));
    ASSERT_NE(pButton, nullptr);
    QTest::mouseClick(pButton, Qt::LeftButton);
    // Each refused: no connection exists.
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>(3, kNoConnections));
    EXPECT_EQ(m_boxes.m_boxes[0].nType, static_cast<UINT>(MB_OK));
    EXPECT_TRUE(m_pFrame->GetMDIClient()->subWindowList().isEmpty());
    EXPECT_TRUE(m_app.GetDocTemplates().front()->GetDocuments().empty());
}

TEST_F(CommandTest, AboutOpensOneModalBoxThatOkEnterAndEscClose) {
    int nShown = 0;
    for (int nKey : std::initializer_list<int>{Qt::Key_Return, Qt::Key_Escape, Qt::Key_Enter, 0}) {
        WhenModal([&](QWidget* pDialog) {
            ++nShown;
            EXPECT_EQ(pDialog->windowTitle(), QStringLiteral("About Regprobe"));
            QStringList texts;
            for (QLabel* pLabel : pDialog->findChildren<QLabel*>()) {
                texts << pLabel->text();
            }
            EXPECT_TRUE(texts.contains(QStringLiteral("Regprobe Version 1.0")));
            if (nKey != 0) {
                QTest::keyClick(pDialog, static_cast<Qt::Key>(nKey));
            } else {
                auto* pOk = qobject_cast<QPushButton*>(GetDlgItem(pDialog, IDOK));
                ASSERT_NE(pOk, nullptr);
                pOk->click();
            }
        });
        // From the menu and from the tool bar; either returns once the box
        // is closed.
        if (nKey != 0) {
            MenuItem(m_pFrame, ID_APP_ABOUT)->trigger();
        } else {
            m_pFrame->m_wndToolBar.GetButton(ID_APP_ABOUT)->trigger();
        }
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    EXPECT_EQ(nShown, 4);
}

// The Connections dialog runs once at a time, with its flag set: the tray's
// Connections while it runs does nothing, and Terminate waits for it.
TEST_F(CommandTest, ConnectionsRunsOnceAndTerminateWaitsForIt) {
    std::vector<BOOL> flags;
    bool bAliveAfterTerminate = false;
    CMainFrame::SetConnectionsDialog([&] {
        flags.push_back(m_pFrame->m_bConnectionsDlgOpen);
        m_pFrame->SendCommand(ID_TRAY_CONNECTIONS);
        if (flags.size() == 1) {
            return;
        }
        CDialog dlg(IDD_CONNECTIONS);
        WhenModal([&](QWidget* pDialog) {
            // The tray's commands arrive while the dialog runs.
            PostMessage(m_pFrame, WM_COMMAND, ID_TRAY_TERMINATE, 0);
            PostMessage(m_pFrame, WM_COMMAND, ID_TRAY_CONNECTIONS, 0);
            Pump(std::chrono::milliseconds(100));
            bAliveAfterTerminate = AfxGetMainWnd() == m_pFrame && pDialog->isVisible();
            QTest::keyClick(pDialog, Qt::Key_Escape);
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    });
    MenuItem(m_pFrame, ID_OPTIONS_CONNECTIONS)->trigger();
    EXPECT_EQ(flags, std::vector<BOOL>{TRUE});
    EXPECT_FALSE(m_pFrame->m_bConnectionsDlgOpen);

    QPointer<CMainFrame> pFrame(m_pFrame);
    m_pFrame->SendCommand(ID_TRAY_CONNECTIONS);
    EXPECT_EQ(flags, (std::vector<BOOL>{TRUE, TRUE}));
    EXPECT_TRUE(bAliveAfterTerminate);
    // Closed once the dialog was done.
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
    EXPECT_TRUE(WaitFor([&] { return pFrame.isNull(); }));
    EXPECT_TRUE(m_boxes.m_boxes.empty());
}

TEST_F(CommandTest, ConnectionsWithADocumentOpenRestoresTheFrameAndRefuses) {
    int nRuns = 0;
    CMainFrame::SetConnectionsDialog([&] { ++nRuns; });
    theConnections.Add("127.0.0.1:1502", CONNECTION_OPEN_MODBUS);
    m_pFrame->SendCommand(ID_FILE_NEW);
    CNotifyIconRecorder shell;
    m_pFrame->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !m_pFrame->isVisible(); }));

    m_boxes.m_pfnOnShow = [&](const CString&) {
        // The frame is back, and its icon gone, before the message shows.
        EXPECT_TRUE(m_pFrame->isVisible());
        EXPECT_FALSE(m_pFrame->isMinimized());
        EXPECT_EQ(shell.m_calls.back().dwMessage, NIM_DELETE);
    };
    m_pFrame->SendCommand(ID_TRAY_CONNECTIONS);
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>{kCloseDocuments});
    EXPECT_EQ(nRuns, 0);
    EXPECT_EQ(theConnections.GetCount(), 1u);
}

TEST(ExitTest, ExitTerminateAndCloseEndInTheFramesClose) {
    CMessageBoxRecorder boxes;
    for (UINT nWay : {ID_APP_EXIT, ID_TRAY_TERMINATE, 0U}) {
        CTestApp app({"-Embedding"});
        ASSERT_TRUE(app.InitInstance());
        theConnections.Add("127.0.0.1:1502", CONNECTION_OPEN_MODBUS);
        QPointer<CMainFrame> pFrame(MainFrame());
        pFrame->SendCommand(ID_FILE_NEW);
        ASSERT_EQ(app.GetDocTemplates().front()->GetDocuments().size(), 1u);
        if (nWay == ID_APP_EXIT) {
            MenuItem(pFrame, ID_APP_EXIT)->trigger();
        } else if (nWay != 0) {
            pFrame->SendCommand(nWay);
        } else {
            pFrame->close();  // the window's close box
        }
        EXPECT_EQ(AfxGetMainWnd(), nullptr) << nWay;
        EXPECT_TRUE(app.GetDocTemplates().front()->GetDocuments().empty()) << nWay;
        EXPECT_TRUE(WaitFor([&] { return pFrame.isNull(); })) << nWay;
        theConnections.RemoveAll();
    }
    EXPECT_TRUE(boxes.m_boxes.empty());
}

TEST_F(CommandTest, OpenAndSaveGoThroughTheFramework) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::string strOpen = dir.filePath(QStringLiteral("bench.cfg")).toStdString();
    WriteFile(strOpen, {'x'});
    {
        // Ctrl+O: the application's open; a file opens a window even while
        // no connection exists, since only a new document is refused.
        CFileDialogAnswer answer(strOpen);
        QTest::keyClick(m_pFrame->windowHandle(), Qt::Key_O, Qt::ControlModifier);
        EXPECT_EQ(answer.m_nShown, 1);
        EXPECT_EQ(answer.m_strLastFilter, "All Files (*.*)|*.*||");
    }
    ASSERT_NE(m_pFrame->MDIGetActive(), nullptr);
    EXPECT_EQ(m_pFrame->MDIGetActive()->windowTitle(), QStringLiteral("bench.cfg"));
    EXPECT_TRUE(m_boxes.m_boxes.empty());
    {
        // Ctrl+S: the active document saves itself where it came from.
        CFileDialogAnswer answer("");
        QTest::keyClick(m_pFrame->windowHandle(), Qt::Key_S, Qt::ControlModifier);
        EXPECT_EQ(answer.m_nShown, 0);
        EXPECT_EQ(QFileInfo(QString::fromStdString(strOpen)).size(), 0);  // nothing to keep
    }
    // Opening it again brings its window forward instead of a second one.
    {
        CFileDialogAnswer answer(strOpen);
        m_pFrame->SendCommand(ID_FILE_OPEN);
    }
    EXPECT_EQ(m_pFrame->GetMDIClient()->subWindowList().size(), 1);
}
