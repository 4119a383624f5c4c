// The splash screen: shown centred while the frame is created, gone after
// three seconds or at the first key or button press, which it swallows; not
// there at all when suppressed.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTest>
#include <QVBoxLayout>
#include <functional>

#include "shell/MainFrm.h"
#include "shell/Splash.h"
#include "tests/support/ui/UiTestSupport.h"

namespace {
// A window of our own with an edit and a button, to see what gets through.
class CTarget : public QWidget {
public:
    CTarget() {
        auto* pLayout = new QVBoxLayout(this);
        m_pEdit = new QLineEdit(this);
        m_pButton = new QPushButton(QStringLiteral("Push"), this);
        pLayout->addWidget(m_pEdit);
        pLayout->addWidget(m_pButton);
        QObject::connect(m_pButton, &QPushButton::clicked, [this] { ++m_nClicks; });
        resize(200, 100);
    }
    QLineEdit* m_pEdit;
    QPushButton* m_pButton;
    int m_nClicks = 0;
};

class SplashTest : public ::testing::Test {
protected:
    void SetUp() override {
        CSplashWnd::EnableSplashScreen(FALSE);
        ASSERT_TRUE(m_app.InitInstance());
        ASSERT_NE(CSplashWnd::c_pSplashWnd, nullptr);
        m_target.show();
        m_target.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_target));
        m_target.m_pEdit->setFocus();
    }
    void TearDown() override {
        if (CSplashWnd::c_pSplashWnd != nullptr) {
            CSplashWnd::c_pSplashWnd->HideSplashScreen();
        }
        CSplashWnd::EnableSplashScreen(FALSE);
    }

    CTestApp m_app;  // no switch: the splash is allowed
    CMessageBoxRecorder m_boxes;
    CTarget m_target;
};
}  // namespace

TEST_F(SplashTest, ShowsTheBitmapCentred) {
    CSplashWnd* pSplash = CSplashWnd::c_pSplashWnd;
    EXPECT_TRUE(pSplash->isVisible());
    EXPECT_EQ(pSplash->size(), QSize(520, 317));
    EXPECT_TRUE(pSplash->windowFlags() & Qt::FramelessWindowHint);
    QRect rcWork = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((pSplash->geometry().center() - rcWork.center()).manhattanLength(), 2);
    // Shown once: a second call makes no second window.
    CSplashWnd::ShowSplashScreen(MainFrame());
    EXPECT_EQ(CSplashWnd::c_pSplashWnd, pSplash);
}

TEST_F(SplashTest, FirstKeyOrButtonPressOnlyDismisses) {
    int nFired = 0;
    QShortcut shortcut(QKeySequence(Qt::Key_F2), &m_target);
    QObject::connect(&shortcut, &QShortcut::activated, [&] { ++nFired; });
    QWindow* pWindow = m_target.windowHandle();
    const QPoint center = m_target.m_pButton->geometry().center();
    const std::function<void()> presses[] = {
        [&] { QTest::keyClick(pWindow, Qt::Key_A); },
        [&] { QTest::keyClick(pWindow, Qt::Key_F2); },
        [&] { QTest::mouseClick(pWindow, Qt::LeftButton, {}, center); },
        [&] { QTest::mouseClick(pWindow, Qt::RightButton, {}, center); },
        [&] { QTest::mouseClick(pWindow, Qt::MiddleButton, {}, center); },
    };
    for (size_t i = 0; i < std::size(presses); ++i) {
        if (CSplashWnd::c_pSplashWnd == nullptr) {
            CSplashWnd::EnableSplashScreen(TRUE);
            CSplashWnd::ShowSplashScreen(MainFrame());
            m_target.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&m_target));
        }
        ASSERT_NE(CSplashWnd::c_pSplashWnd, nullptr);
        presses[i]();
        EXPECT_EQ(CSplashWnd::c_pSplashWnd, nullptr) << i;
    }
    // Each was swallowed; the same presses now reach the window.
    EXPECT_EQ(m_target.m_pEdit->text(), QString());
    EXPECT_EQ(nFired, 0);
    EXPECT_EQ(m_target.m_nClicks, 0);
    for (size_t i = 0; i < 3; ++i) {
        presses[i]();
    }
    EXPECT_EQ(m_target.m_pEdit->text(), QStringLiteral("a"));
    EXPECT_EQ(nFired, 1);
    EXPECT_EQ(m_target.m_nClicks, 1);
}

TEST_F(SplashTest, OtherMessagesPassAndItGoesAfterThreeSeconds) {
    for (UINT message : {WM_KEYUP, WM_LBUTTONUP, WM_MOUSEMOVE, WM_RBUTTONUP, WM_COMMAND}) {
        MSG msg{nullptr, message, 0, 0, 0, {0, 0}};
        EXPECT_FALSE(CSplashWnd::PreTranslateAppMessage(&msg)) << message;
    }
    EXPECT_NE(CSplashWnd::c_pSplashWnd, nullptr);
    EXPECT_TRUE(
        WaitFor([] { return CSplashWnd::c_pSplashWnd == nullptr; }, std::chrono::seconds(6)));
}

TEST(SplashDisabledTest, NothingIsCreatedAndNothingIsSwallowed) {
    CSplashWnd::EnableSplashScreen(FALSE);
    CSplashWnd::ShowSplashScreen(nullptr);
    EXPECT_EQ(CSplashWnd::c_pSplashWnd, nullptr);
    for (UINT message : {WM_KEYDOWN, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN,
                         WM_NCLBUTTONDOWN, WM_NCRBUTTONDOWN, WM_NCMBUTTONDOWN}) {
        MSG msg{nullptr, message, 0, 0, 0, {0, 0}};
        EXPECT_FALSE(CSplashWnd::PreTranslateAppMessage(&msg)) << message;
    }
}
