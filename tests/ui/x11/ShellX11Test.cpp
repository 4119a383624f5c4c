// The shell under a real window manager: the splash screen above the frame
// it belongs to; modal windows without minimise or maximise boxes, never
// left minimised behind the frame they block.
#include <gtest/gtest.h>

#include <QApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "shell/Splash.h"
#include "tests/support/ui/UiTestSupport.h"
#include "tests/ui/x11/X11Support.h"

namespace {
using namespace std::chrono_literals;

class CTimerSwallower : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* pEvent) override { return pEvent->type() == QEvent::Timer; }
};

ptrdiff_t StackPosition(WId window) {
    std::vector<WId> order = StackingOrder();
    auto it = std::find(order.begin(), order.end(), window);
    return it == order.end() ? -1 : it - order.begin();
}

class SplashX11Test : public ::testing::Test {
protected:
    void TearDown() override {
        if (AfxGetMainWnd() != nullptr) {
            MainFrame()->SendCommand(ID_TRAY_TERMINATE);
        }
    }

    CTestApp m_app;  // not embedded: the splash screen is on
};

class ModalX11Test : public CX11FrameTest {};
}  // namespace

TEST_F(SplashX11Test, ShowsAboveTheFrameItBelongsTo) {
    ASSERT_TRUE(m_app.InitInstance());
    CSplashWnd* pSplash = CSplashWnd::c_pSplashWnd;
    ASSERT_NE(pSplash, nullptr);
    // Kept up past its three seconds however slow this machine is today:
    // from before any event is handled, since waiting for the frame may
    // itself take longer than that.
    CTimerSwallower keepUp;
    pSplash->installEventFilter(&keepUp);
    CMainFrame* pFrame = MainFrame();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pFrame, 10000));
    WId splash = pSplash->winId();
    WId frame = pFrame->winId();
    // Above the frame in the window manager's stacking, soon after the frame
    // is up.
    EXPECT_TRUE(WaitFor(
        [&] {
            ptrdiff_t nFrame = StackPosition(frame);
            return nFrame >= 0 && StackPosition(splash) > nFrame;
        },
        2500ms))
        << "frame at " << StackPosition(frame) << ", splash at " << StackPosition(splash)
        << ", splash visible " << pSplash->isVisible() << ", stack size " << StackingOrder().size();
    // And what the screen shows there is the splash screen's picture, once
    // it has been painted again.
    QImage expected = pSplash->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QRect rc = pSplash->geometry();
    auto shownFraction = [&] {
        QImage shown = QGuiApplication::primaryScreen()
                           ->grabWindow(0, rc.x(), rc.y(), rc.width(), rc.height())
                           .toImage()
                           .convertToFormat(QImage::Format_RGB32);
        if (shown.size() != expected.size()) {
            return 0.0;
        }
        qint64 nSame = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                nSame += shown.pixel(x, y) == expected.pixel(x, y) ? 1 : 0;
            }
        }
        return double(nSame) / (qint64(shown.width()) * shown.height());
    };
    EXPECT_TRUE(WaitFor([&] { return shownFraction() > 0.95; }, 1000ms))
        << "on the screen: " << shownFraction();
    pSplash->HideSplashScreen();
}

TEST_F(ModalX11Test, AboutBoxAsksForNoMinimiseOrMaximiseBoxAndKeepsItsSize) {
    QString strActions, strSizeHints;
    std::vector<unsigned long> motif;
    WhenModal([&](QWidget* pAbout) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pAbout, 5000));
        WId id = pAbout->winId();
        // Set by the window manager once it manages the window.
        WaitFor([&] {
            strActions = WindowProperty(id, QStringLiteral("_NET_WM_ALLOWED_ACTIONS"));
            return !strActions.isEmpty();
        });
        motif = PropertyNumbers(WindowProperty(id, QStringLiteral("_MOTIF_WM_HINTS")));
        strSizeHints = WindowProperty(id, QStringLiteral("WM_NORMAL_HINTS"));
        pAbout->close();
    });
    m_pFrame->SendCommand(ID_APP_ABOUT);

    // Motif hints: flags (1: functions given), functions (1 all, 8 minimise,
    // 0x10 maximise), decorations (1 all, 0x20 minimise, 0x40 maximise).
    ASSERT_GE(motif.size(), 3u);
    EXPECT_EQ(motif[0] & 0x1, 0x1u);
    EXPECT_EQ(motif[1] & 0x19, 0u);
    EXPECT_EQ(motif[2] & 0x61, 0u);
    // A fixed size, which the window manager neither resizes nor maximises.
    static const QRegularExpression fixed(
        QStringLiteral("minimum size: (\\d+ by \\d+)\\s+program specified maximum size: \\1"));
    EXPECT_TRUE(fixed.match(strSizeHints).hasMatch()) << strSizeHints.toStdString();
    EXPECT_FALSE(strActions.contains(QLatin1String("_NET_WM_ACTION_RESIZE")));
    EXPECT_FALSE(strActions.contains(QLatin1String("_NET_WM_ACTION_MAXIMIZE")));
}

TEST_F(ModalX11Test, AMinimisedAboutBoxComesBackWithTheFrameAndTheMenusAnswer) {
    bool bFrameWentWithIt = false;
    bool bBackOnTop = false;
    WhenModal([&](QWidget* pAbout) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pAbout, 5000));
        Xdotool(QStringLiteral("windowminimize %1").arg(pAbout->winId()));
        // Never minimised alone: the frame it blocks goes to the tray too.
        bFrameWentWithIt =
            WaitFor([&] { return !m_pFrame->isVisible() && TrayIconWidget() != nullptr; }, 10s);
        if (!bFrameWentWithIt) {
            return;
        }
        WaitFor([&] { return ScreenCentre(TrayIconWidget()->winId()).x() > 0; }, 5s);
        Pump(300ms);
        DoubleClickAt(ScreenCentre(TrayIconWidget()->winId()));
        bBackOnTop = WaitFor(
            [&] {
                return m_pFrame->isVisible() && !m_pFrame->isMinimized() && pAbout->isVisible() &&
                       !pAbout->isMinimized() && QApplication::activeWindow() == pAbout;
            },
            10s);
        // Closed as a user would, from the keyboard.
        Xdotool(QStringLiteral("key Escape"));
    });
    m_pFrame->SendCommand(ID_APP_ABOUT);
    EXPECT_TRUE(bFrameWentWithIt);
    EXPECT_TRUE(bBackOnTop);

    // The frame takes its menus again.
    m_pFrame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pFrame, 5000));
    Xdotool(QStringLiteral("key alt+h"));
    EXPECT_TRUE(WaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5s));
    Xdotool(QStringLiteral("key Escape"));
}
