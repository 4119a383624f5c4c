// The shell under a real window manager: the splash screen above the frame
// it belongs to; modal windows without minimise or maximise boxes, never
// left minimised behind the frame they block.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include "../UiTestSupport.h"
#include "X11Support.h"
#include "platform/ui/MessageBox.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "shell/Splash.h"

namespace {
using namespace std::chrono_literals;

// Motif hints: flags, functions, decorations.
constexpr unsigned long kMwmHintsFunctions = 0x1;
constexpr unsigned long kMwmAll = 0x1;
constexpr unsigned long kMwmFuncMinimise = 0x8;
constexpr unsigned long kMwmFuncMaximise = 0x10;
constexpr unsigned long kMwmDecorMinimise = 0x20;
constexpr unsigned long kMwmDecorMaximise = 0x40;

class CTimerSwallower : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* pEvent) override { return pEvent->type() == QEvent::Timer; }
};

ptrdiff_t StackPosition(WId window) {
    std::vector<WId> order = StackingOrder();
    auto it = std::find(order.begin(), order.end(), window);
    return it == order.end() ? -1 : it - order.begin();
}

// What the window asks of the window manager and what it was granted.
struct CWindowControls {
    bool bMotifRead = false;
    bool bMinimiseAsked = true;
    bool bMaximiseAsked = true;
    bool bMaximiseAllowed = true;
    bool bResizeAllowed = true;
    QSize minSize, maxSize;
};

CWindowControls ReadControls(WId window) {
    CWindowControls controls;
    // The window manager sets the allowed actions once it manages the window.
    WaitFor([&] { return !WindowProperty(window, "_NET_WM_ALLOWED_ACTIONS").isEmpty(); }, 5s);
    std::vector<unsigned long> motif =
        PropertyNumbers(WindowProperty(window, QStringLiteral("_MOTIF_WM_HINTS")));
    if (motif.size() >= 3 && (motif[0] & kMwmHintsFunctions)) {
        controls.bMotifRead = true;
        controls.bMinimiseAsked =
            (motif[1] & (kMwmAll | kMwmFuncMinimise)) || (motif[2] & (kMwmAll | kMwmDecorMinimise));
        controls.bMaximiseAsked =
            (motif[1] & (kMwmAll | kMwmFuncMaximise)) || (motif[2] & (kMwmAll | kMwmDecorMaximise));
    }
    QString strActions = WindowProperty(window, QStringLiteral("_NET_WM_ALLOWED_ACTIONS"));
    controls.bMaximiseAllowed = strActions.contains(QLatin1String("_NET_WM_ACTION_MAXIMIZE"));
    controls.bResizeAllowed = strActions.contains(QLatin1String("_NET_WM_ACTION_RESIZE"));
    QString strHints = WindowProperty(window, QStringLiteral("WM_NORMAL_HINTS"));
    static const QRegularExpression size(
        QStringLiteral("(minimum|maximum) size: (\\d+) by (\\d+)"));
    for (const QRegularExpressionMatch& m : size.globalMatch(strHints)) {
        QSize sz(m.captured(2).toInt(), m.captured(3).toInt());
        (m.captured(1) == QLatin1String("minimum") ? controls.minSize : controls.maxSize) = sz;
    }
    return controls;
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

class ModalX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10s))
            << "no notification area on this display";
        ASSERT_TRUE(m_app.InitInstance());
        m_pFrame = MainFrame();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pFrame, 10000));
    }
    void TearDown() override {
        if (AfxGetMainWnd() != nullptr) {
            MainFrame()->SendCommand(ID_TRAY_TERMINATE);
        }
    }

    CTestApp m_app{{"-Embedding"}};
    CMainFrame* m_pFrame = nullptr;
};
}  // namespace

TEST_F(SplashX11Test, ShowsAboveTheFrameItBelongsTo) {
    ASSERT_TRUE(m_app.InitInstance());
    CMainFrame* pFrame = MainFrame();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pFrame, 10000));
    CSplashWnd* pSplash = CSplashWnd::c_pSplashWnd;
    ASSERT_NE(pSplash, nullptr);
    // Kept up past its three seconds however slow this machine is today.
    CTimerSwallower keepUp;
    pSplash->installEventFilter(&keepUp);
    WId splash = pSplash->winId();
    WId frame = pFrame->winId();
    // Above the frame in the window manager's stacking, soon after the frame
    // is up.
    EXPECT_TRUE(WaitFor(
        [&] {
            ptrdiff_t nFrame = StackPosition(frame);
            return nFrame >= 0 && StackPosition(splash) > nFrame;
        },
        2500ms));
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

TEST_F(ModalX11Test, ModalWindowsHaveNoMinimiseOrMaximiseBox) {
    CWindowControls about, box;
    WhenModal([&](QWidget* pAbout) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pAbout, 5000));
        about = ReadControls(pAbout->winId());
        // A message box over it, run from its own nested loop.
        QTimer::singleShot(0, [&] {
            QWidget* pBox = nullptr;
            WaitFor([&] {
                return (pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) !=
                       nullptr;
            });
            if (pBox != nullptr && QTest::qWaitForWindowExposed(pBox, 5000)) {
                box = ReadControls(pBox->winId());
            }
            if (pBox != nullptr) {
                pBox->close();
            }
        });
        AfxMessageBox("Library registred", MB_OK);
        pAbout->close();
    });
    m_pFrame->SendCommand(ID_APP_ABOUT);

    ASSERT_TRUE(about.bMotifRead);
    EXPECT_FALSE(about.bMinimiseAsked);
    EXPECT_FALSE(about.bMaximiseAsked);
    // "Modal frame": a fixed size, which the window manager cannot change.
    EXPECT_TRUE(about.minSize.isValid());
    EXPECT_EQ(about.minSize, about.maxSize);
    EXPECT_FALSE(about.bResizeAllowed);
    EXPECT_FALSE(about.bMaximiseAllowed);

    ASSERT_TRUE(box.bMotifRead);
    EXPECT_FALSE(box.bMinimiseAsked);
    EXPECT_FALSE(box.bMaximiseAsked);
    EXPECT_FALSE(box.bMaximiseAllowed);
}

TEST_F(ModalX11Test, AMinimisedAboutBoxComesBackWithTheFrameAndTheMenusAnswer) {
    bool bFrameWentWithIt = false;
    bool bBackOnTop = false;
    WhenModal([&](QWidget* pAbout) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pAbout, 5000));
        RunCommand(QStringLiteral("xdotool"),
                   {QStringLiteral("windowminimize"), QString::number(pAbout->winId())});
        // Never minimised alone: the frame it blocks goes to the tray too.
        bFrameWentWithIt =
            WaitFor([&] { return !m_pFrame->isVisible() && TrayIconWidget() != nullptr; }, 10s);
        if (!bFrameWentWithIt) {
            return;
        }
        WaitFor([&] { return ScreenCentre(TrayIconWidget()->winId()).x() > 0; }, 5s);
        Pump(300ms);
        QPoint centre = ScreenCentre(TrayIconWidget()->winId());
        RunCommand(
            QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y()),
             QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
             QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
        bBackOnTop = WaitFor(
            [&] {
                return m_pFrame->isVisible() && !m_pFrame->isMinimized() && pAbout->isVisible() &&
                       !pAbout->isMinimized() && QApplication::activeWindow() == pAbout;
            },
            10s);
        // Closed as a user would, from the keyboard.
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    });
    m_pFrame->SendCommand(ID_APP_ABOUT);
    EXPECT_TRUE(bFrameWentWithIt);
    EXPECT_TRUE(bBackOnTop);

    // The frame takes its menus again.
    m_pFrame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pFrame, 5000));
    RunCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("alt+h")});
    EXPECT_TRUE(WaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5s));
    RunCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
}
