// The shell under a real window manager: the splash screen above the frame
// it belongs to.
#include <gtest/gtest.h>

#include <QScreen>
#include <QTest>

#include "../UiTestSupport.h"
#include "X11Support.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "shell/Splash.h"

namespace {
using namespace std::chrono_literals;

ptrdiff_t StackPosition(WId window) {
    std::vector<WId> order = StackingOrder();
    auto it = std::find(order.begin(), order.end(), window);
    return it == order.end() ? -1 : it - order.begin();
}
}  // namespace

TEST(SplashX11Test, ShowsAboveTheFrameItBelongsTo) {
    CTestApp app;  // not embedded: the splash screen is on
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* pFrame = MainFrame();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pFrame, 10000));
    QWidget* pSplash = CSplashWnd::c_pSplashWnd;
    ASSERT_NE(pSplash, nullptr);
    WId splash = pSplash->winId();
    WId frame = pFrame->winId();
    // Above the frame in the window manager's stacking, soon after the frame
    // is up and well before the three seconds are over.
    EXPECT_TRUE(WaitFor(
        [&] {
            ptrdiff_t nFrame = StackPosition(frame);
            return nFrame >= 0 && StackPosition(splash) > nFrame;
        },
        2500ms));
    // And what the screen shows there is the splash screen's picture, once
    // it has been painted again.
    ASSERT_EQ(CSplashWnd::c_pSplashWnd, pSplash) << "gone before it could be seen";
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
    pFrame->SendCommand(ID_TRAY_TERMINATE);
}
