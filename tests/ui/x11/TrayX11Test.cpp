// On a real X server with a window manager and a notification area:
// minimising hides the frame behind the icon; a double click on the icon,
// or Poll Device from its menu, brings the frame back and removes the icon.
// Input comes from xdotool, as a user's would.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSystemTrayIcon>
#include <QTest>

#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "tests/support/ui/UiTestSupport.h"
#include "tests/ui/x11/X11Support.h"

namespace {
class TrayX11Test : public CX11FrameTest {
protected:
    // Minimised through the window manager, as its button would.
    void MinimiseToTray() {
        Xdotool(QStringLiteral("windowminimize %1").arg(m_pFrame->winId()));
        ASSERT_TRUE(WaitFor([&] { return !m_pFrame->isVisible() && TrayIconWidget() != nullptr; },
                            std::chrono::seconds(10)));
        // Embedded and mapped in the tray.
        ASSERT_TRUE(WaitFor([&] { return ScreenCentre(TrayIconWidget()->winId()).x() > 0; },
                            std::chrono::seconds(5)));
        Pump(std::chrono::milliseconds(300));
    }

    bool RestoredWithoutIcon() {
        return WaitFor(
            [&] {
                return m_pFrame->isVisible() && !m_pFrame->isMinimized() &&
                       TrayIconWidget() == nullptr;
            },
            std::chrono::seconds(10));
    }
};
}  // namespace

TEST_F(TrayX11Test, DoubleClickOnTheIconRestores) {
    MinimiseToTray();
    DoubleClickAt(ScreenCentre(TrayIconWidget()->winId()));
    EXPECT_TRUE(RestoredWithoutIcon());
}

TEST_F(TrayX11Test, PollDeviceFromTheIconsMenuRestores) {
    MinimiseToTray();
    QPoint centre = ScreenCentre(TrayIconWidget()->winId());
    // The menu runs its own loop once open, so the keys that pick its first
    // item are typed by a process already on its way.
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  QStringLiteral("mousemove %1 %2 click 3 sleep 1 key Down Return")
                      .arg(centre.x())
                      .arg(centre.y())
                      .split(QLatin1Char(' ')));
    EXPECT_TRUE(RestoredWithoutIcon());
    // It may have ended already while the restore was awaited.
    EXPECT_TRUE(xdotool.state() == QProcess::NotRunning || xdotool.waitForFinished(10000));
    EXPECT_EQ(xdotool.exitCode(), 0);
}

TEST_F(TrayX11Test, MaximiseAndRestoreLeaveNoIcon) {
    m_pFrame->showMaximized();
    EXPECT_TRUE(WaitFor([&] { return m_pFrame->isMaximized(); }, std::chrono::seconds(5)));
    m_pFrame->showNormal();
    Pump(std::chrono::milliseconds(300));
    EXPECT_EQ(TrayIconWidget(), nullptr);
    EXPECT_TRUE(m_pFrame->isVisible());
}

TEST_F(TrayX11Test, CapsLockShowsInTheStatusBar) {
    m_pFrame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pFrame, 5000));
    CStatusBar& bar = m_pFrame->m_wndStatusBar;
    EXPECT_EQ(bar.GetPaneText(1), "");
    Xdotool(QStringLiteral("key Caps_Lock"));
    EXPECT_TRUE(WaitFor([&] { return bar.GetPaneText(1) == "CAP"; }, std::chrono::seconds(5)));
    Xdotool(QStringLiteral("key Caps_Lock"));
    EXPECT_TRUE(WaitFor([&] { return bar.GetPaneText(1).empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(bar.GetPaneText(2), "");  // Num Lock stays off
}
