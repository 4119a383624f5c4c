// A workspace's geometry under a real window manager: the main window's
// rectangle or its maximised state, and each test window's rectangle and
// state, come back as they were saved.
#include <gtest/gtest.h>

#include <QMdiArea>
#include <QMdiSubWindow>

#include "connections/Connections.h"
#include "platform/ui/MDIChildWnd.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "shell/WorkspaceSession.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/TempDir.h"
#include "tests/ui/x11/X11Support.h"
#include "transport/RemoteModbus.h"

namespace {
using namespace std::chrono_literals;

class WorkspaceX11Test : public CX11FrameTest {
protected:
    void SetUp() override {
        CX11FrameTest::SetUp();
        // Windows open on any connection; this one's device never answers.
        theConnections.Add("bench", CONNECTION_OPEN_MODBUS)
            ->GetRemoteModbus()
            ->Connect("127.0.0.1", m_device.Port(), 500);
    }
    void TearDown() override {
        m_app.CloseAllDocuments(FALSE);
        CX11FrameTest::TearDown();
        theConnections.RemoveAll();
    }

    CMDIChildWnd* NewWindow(QRect rc) {
        m_pFrame->SendCommand(ID_FILE_NEW);
        CMDIChildWnd* pChild = m_pFrame->MDIGetActive();
        if (pChild != nullptr) {
            pChild->setGeometry(rc);
        }
        return pChild;
    }
    std::vector<QMdiSubWindow*> Windows() const {
        const QList<QMdiSubWindow*> windows =
            m_pFrame->GetMDIClient()->subWindowList(QMdiArea::StackingOrder);
        return {windows.begin(), windows.end()};
    }
    // Saved, then everything changed and closed, then opened again.
    void SaveChangeAndOpen() {
        CWorkspaceSession& session = *m_pFrame->GetWorkspace();
        // The changes below are not to be saved.
        session.m_ask = [](const CString&, UINT) { return IDNO; };
        const std::string strPath = m_dir.Path() + "/geometry.rpw";
        ASSERT_TRUE(session.SaveAs(strPath));
        m_saved = session.Capture();
        m_app.CloseAllDocuments(FALSE);
        if (m_pFrame->isMaximized()) {
            m_pFrame->showNormal();
        } else {
            m_pFrame->showMaximized();
        }
        WaitFor([] { return false; }, 300ms);
        ASSERT_TRUE(session.Open(strPath));
        WaitFor([] { return false; }, 500ms);
    }

    CListener m_device;
    CTempDir m_dir;
    CWorkspace m_saved;
};

void ExpectSameRect(const CWindowGeometry& saved, QRect rc, const char* pszWhat) {
    EXPECT_EQ(rc.size(), QSize(saved.nWidth, saved.nHeight)) << pszWhat;
    // The window manager may nudge a position by its frame, never more.
    EXPECT_LE(std::abs(rc.x() - saved.x), 8) << pszWhat;
    EXPECT_LE(std::abs(rc.y() - saved.y), 40) << pszWhat;
}

TEST_F(WorkspaceX11Test, NormalMainWindowAndAMaximisedTestWindowComeBack) {
    m_pFrame->showNormal();
    m_pFrame->setGeometry(60, 70, 900, 640);
    ASSERT_TRUE(WaitFor([this] { return m_pFrame->geometry().size() == QSize(900, 640); }, 3s));
    NewWindow({10, 10, 320, 220});
    CMDIChildWnd* pMaximised = NewWindow({80, 60, 360, 260});
    pMaximised->showMaximized();
    SaveChangeAndOpen();

    EXPECT_FALSE(m_pFrame->isMaximized());
    ExpectSameRect(m_saved.mainWindow, m_pFrame->normalGeometry(), "main window");
    const std::vector<QMdiSubWindow*> windows = Windows();
    ASSERT_EQ(windows.size(), 2U);
    EXPECT_FALSE(windows[0]->isMaximized());
    EXPECT_EQ(windows[0]->geometry(), QRect(10, 10, 320, 220));
    EXPECT_TRUE(windows[1]->isMaximized());
    // Restored, the maximised one takes the rectangle it had before.
    windows[1]->showNormal();
    EXPECT_EQ(windows[1]->geometry(), QRect(80, 60, 360, 260));
}

TEST_F(WorkspaceX11Test, MaximisedMainWindowAndAMinimisedTestWindowComeBack) {
    m_pFrame->showMaximized();
    ASSERT_TRUE(WaitFor([this] { return m_pFrame->isMaximized(); }, 3s));
    NewWindow({20, 30, 300, 200})->showMinimized();
    NewWindow({40, 50, 300, 200});
    SaveChangeAndOpen();

    ASSERT_TRUE(WaitFor([this] { return m_pFrame->isMaximized(); }, 3s));
    EXPECT_TRUE(WindowProperty(m_pFrame->winId(), "_NET_WM_STATE").contains("MAXIMIZED_VERT"));
    const std::vector<QMdiSubWindow*> windows = Windows();
    ASSERT_EQ(windows.size(), 2U);
    EXPECT_TRUE(windows[0]->isMinimized());
    EXPECT_EQ(windows[1]->geometry(), QRect(40, 50, 300, 200));
}
}  // namespace
