// The notification-area icon: when it adds, changes and removes itself,
// what the shell is told, how its mouse events turn into commands, and the
// main frame minimised where there is no notification area. Hiding to a
// real icon and back is in x11/TrayX11Test.cpp.
#include <gtest/gtest.h>

#include <cstring>

#include "res/RegprobeResources.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "shell/TrayIcon.h"
#include "tests/support/ui/UiTestSupport.h"

namespace {
class CTestTrayIcon : public CTrayIcon {
public:
    using CTrayIcon::CTrayIcon;
    const NOTIFYICONDATA& Data() const { return m_nid; }
};

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override { AfxSetResourceHandle(&RegprobeResources()); }
    CNotifyIconRecorder m_shell;
    CMessageSink m_window;
};
}  // namespace

TEST_F(TrayIconTest, AddsOnceUntilAnAddSucceedsThenModifiesThenDeletes) {
    {
        CTestTrayIcon icon(IDR_TRAYICON);
        icon.SetNotificationWnd(&m_window, WM_USER);
        EXPECT_TRUE(icon.SetIcon(0U));  // nothing shown: no shell call
        EXPECT_TRUE(m_shell.m_calls.empty());
        // A failed add leaves nothing shown, so the next one is an add again.
        m_shell.m_bResult = FALSE;
        EXPECT_FALSE(icon.SetIcon(IDR_TRAYICON));
        EXPECT_EQ(icon.Data().hIcon, nullptr);
        m_shell.m_bResult = TRUE;
        m_shell.m_calls.clear();

        EXPECT_TRUE(icon.SetIcon(IDR_TRAYICON));
        EXPECT_TRUE(icon.SetIcon(IDR_TRAYICON));
        ASSERT_EQ(m_shell.m_calls.size(), 2u);
        EXPECT_EQ(m_shell.m_calls[0].dwMessage, NIM_ADD);
        EXPECT_EQ(m_shell.m_calls[1].dwMessage, NIM_MODIFY);
        const NOTIFYICONDATA& nid = m_shell.m_calls[0].data;
        EXPECT_EQ(nid.uID, IDR_TRAYICON);
        EXPECT_EQ(nid.uFlags, NIF_ICON | NIF_TIP | NIF_MESSAGE);
        EXPECT_NE(nid.hIcon, nullptr);
        EXPECT_STREQ(nid.szTip, "Regprobe");

        EXPECT_TRUE(icon.SetIcon(0U));
        EXPECT_EQ(m_shell.m_calls.back().dwMessage, NIM_DELETE);
        EXPECT_EQ(icon.Data().hIcon, nullptr);
        EXPECT_TRUE(icon.SetIcon(0U));
        EXPECT_EQ(m_shell.m_calls.size(), 3u);

        EXPECT_TRUE(icon.SetIcon(IDR_TRAYICON));  // shown as the object goes
    }
    ASSERT_EQ(m_shell.m_calls.size(), 5u);
    EXPECT_EQ(m_shell.m_calls[3].dwMessage, NIM_ADD);
    EXPECT_EQ(m_shell.m_calls[4].dwMessage, NIM_DELETE);
}

TEST_F(TrayIconTest, FlagsFollowWhatTheRecordHoldsAndLongTipsAreCut) {
    CTestTrayIcon icon(IDR_TRAYICON);
    QIcon qicon;
    icon.SetIcon(&qicon, "");  // no window, no tip: the icon alone
    EXPECT_EQ(m_shell.m_calls.back().data.uFlags, NIF_ICON);
    std::string strLong(100, 'a');
    icon.SetIcon(&qicon, strLong.c_str());
    EXPECT_EQ(std::strlen(m_shell.m_calls.back().data.szTip), 63u);
    EXPECT_EQ(m_shell.m_calls.back().data.uFlags, NIF_ICON | NIF_TIP);
    icon.SetNotificationWnd(&m_window, 0);  // no callback message: no NIF_MESSAGE
    icon.SetIcon(&qicon, nullptr);
    EXPECT_EQ(m_shell.m_calls.back().data.uFlags, NIF_ICON | NIF_TIP);
}

TEST_F(TrayIconTest, OnlyRightReleaseAndDoubleClickOfItsOwnIconCount) {
    CTestTrayIcon icon(IDR_TRAYICON);
    icon.SetNotificationWnd(&m_window, WM_USER);
    CTrackMenuRecorder menus(ID_TRAY_TERMINATE);
    for (LPARAM lEvent :
         {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_MBUTTONUP}) {
        EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYICON, lEvent), 0) << lEvent;
    }
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYICON + 1, WM_RBUTTONUP), 0);
    EXPECT_TRUE(menus.m_shown.empty());

    // A right release shows the menu, its first item bold; the choice
    // arrives later, as a command to the window.
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYICON, WM_RBUTTONUP), 1);
    ASSERT_EQ(menus.m_shown.size(), 1u);
    EXPECT_EQ(menus.m_shown[0].items,
              (std::vector<CString>{"Poll Device", "&Connections...", "&Terminate", "", "&About"}));
    EXPECT_EQ(menus.m_shown[0].bold, (std::vector<bool>{true, false, false, false, false}));
    EXPECT_TRUE(m_window.m_received.empty());
    ASSERT_TRUE(WaitFor([&] { return !m_window.m_received.empty(); }));
    EXPECT_EQ(m_window.m_received[0].message, WM_COMMAND);
    EXPECT_EQ(m_window.m_received[0].wParam, ID_TRAY_TERMINATE);

    // A double click sends the first item's command at once.
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYICON, WM_LBUTTONDBLCLK), 1);
    ASSERT_EQ(m_window.m_received.size(), 2u);
    EXPECT_EQ(m_window.m_received[1].message, WM_COMMAND);
    EXPECT_EQ(m_window.m_received[1].wParam, ID_TRAY_POLL_DEVICE);
}

TEST_F(TrayIconTest, WithoutItsMenuNothingIsHandled) {
    CResourceModule module = RegprobeResources();
    module.m_menus.clear();
    AfxSetResourceHandle(&module);
    CTestTrayIcon icon(IDR_TRAYICON);
    icon.SetNotificationWnd(&m_window, WM_USER);
    CTrackMenuRecorder menus;
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYICON, WM_RBUTTONUP), 0);
    EXPECT_EQ(icon.OnTrayNotification(IDR_TRAYICON, WM_LBUTTONDBLCLK), 0);
    EXPECT_TRUE(menus.m_shown.empty());
    EXPECT_TRUE(m_window.m_received.empty());
    AfxSetResourceHandle(&RegprobeResources());
}

TEST_F(TrayIconTest, WithoutANotificationAreaTheFrameStaysRestorable) {
    CTestApp app({"-Embedding"});
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* pFrame = MainFrame();
    m_shell.m_bResult = FALSE;  // the add fails, as with no notification area
    pFrame->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !m_shell.m_calls.empty(); }));
    EXPECT_TRUE(pFrame->isVisible());
    EXPECT_TRUE(pFrame->isMinimized());
    pFrame->showNormal();
    Pump(std::chrono::milliseconds(50));
    // No icon was shown, so none is removed.
    ASSERT_EQ(m_shell.m_calls.size(), 1u);
    EXPECT_EQ(m_shell.m_calls[0].dwMessage, NIM_ADD);
}

TEST(ShellTest, TheRealShellRefusesWithoutANotificationArea) {
    // The offscreen platform has none.
    NOTIFYICONDATA nid{};
    nid.uID = 7;
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &nid));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &nid));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &nid));
}
