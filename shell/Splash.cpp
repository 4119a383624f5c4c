#include "Splash.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

#include "platform/ui/ResourceModule.h"
#include "platform/ui/WinApp.h"
#include "res/Resource.h"

BOOL CSplashWnd::c_bShowSplashWnd = FALSE;
CSplashWnd* CSplashWnd::c_pSplashWnd = nullptr;

CSplashWnd::CSplashWnd() = default;

CSplashWnd::~CSplashWnd() {
    if (c_pSplashWnd == this) {
        c_pSplashWnd = nullptr;
    }
}

void CSplashWnd::EnableSplashScreen(BOOL bEnable) {
    c_bShowSplashWnd = bEnable;
}

void CSplashWnd::ShowSplashScreen(QWidget* pParentWnd) {
    if (!c_bShowSplashWnd || c_pSplashWnd != nullptr) {
        return;
    }
    c_pSplashWnd = new CSplashWnd;
    if (!c_pSplashWnd->Create(pParentWnd)) {
        delete c_pSplashWnd;
    } else {
        // Painted before start-up goes on.
        c_pSplashWnd->repaint();
    }
}

BOOL CSplashWnd::PreTranslateAppMessage(MSG* pMsg) {
    if (c_pSplashWnd == nullptr) {
        return FALSE;
    }
    switch (pMsg->message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_NCLBUTTONDOWN:
        case WM_NCRBUTTONDOWN:
        case WM_NCMBUTTONDOWN:
            c_pSplashWnd->HideSplashScreen();
            return TRUE;
        default:
            return FALSE;
    }
}

BOOL CSplashWnd::Create(QWidget* pParentWnd) {
    m_bitmap = AfxLoadBitmap(IDB_SPLASH);
    if (m_bitmap.isNull()) {
        return FALSE;
    }
    // A top-level window owned by the frame, without frame or title.
    // Kept above other windows for its few seconds, as a splash screen is:
    // the frame, mapped after it, would otherwise come up over it.
    setParent(pParentWnd, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(m_bitmap.size());
    move(0, 0);
    if (OnCreate() == -1) {
        return FALSE;
    }
    // On X11 the owner, mapped after the splash, may come up over it: the
    // splash is raised again when the owner shows and is activated.
    if (pParentWnd != nullptr && !pParentWnd->isVisible() &&
        QGuiApplication::platformName() == QLatin1String("xcb")) {
        pParentWnd->installEventFilter(this);
    }
    show();
    raise();
    return TRUE;
}

int CSplashWnd::OnCreate() {
    // The owner is not shown yet: centre on the screen.
    QScreen* pScreen = QGuiApplication::primaryScreen();
    if (pScreen != nullptr) {
        QRect rcWork = pScreen->availableGeometry();
        move(rcWork.center() - QPoint(width() / 2, height() / 2));
    }
    m_nTimer = startTimer(3000);
    return m_nTimer != 0 ? 0 : -1;
}

void CSplashWnd::OnPaint() {
    QPainter dc(this);
    dc.drawPixmap(0, 0, m_bitmap);
}

void CSplashWnd::OnTimer(int) {
    HideSplashScreen();
}

void CSplashWnd::HideSplashScreen() {
    if (m_nTimer != 0) {
        killTimer(m_nTimer);
        m_nTimer = 0;
    }
    hide();
    // The window is gone now; the object goes once control is back in the
    // event loop.
    if (c_pSplashWnd == this) {
        c_pSplashWnd = nullptr;
    }
    deleteLater();
    QWidget* pMainWnd = AfxGetMainWnd();
    if (pMainWnd != nullptr && pMainWnd->isVisible()) {
        pMainWnd->repaint();
    }
}

void CSplashWnd::paintEvent(QPaintEvent*) {
    OnPaint();
}

void CSplashWnd::timerEvent(QTimerEvent* pEvent) {
    OnTimer(pEvent->timerId());
}

bool CSplashWnd::eventFilter(QObject* pObject, QEvent* pEvent) {
    if (pObject == parentWidget()) {
        if (pEvent->type() == QEvent::Show) {
            // After the owner's own map request has gone out.
            QMetaObject::invokeMethod(
                this, [this] { StayAboveOwner(); }, Qt::QueuedConnection);
        } else if (pEvent->type() == QEvent::WindowActivate || pEvent->type() == QEvent::Expose) {
            // The window manager may put the owner on top once it manages
            // it, after the map above: raised again each time, while shown.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (c_pSplashWnd == this && isVisible()) {
                        raise();
                    }
                },
                Qt::QueuedConnection);
        }
    }
    return QWidget::eventFilter(pObject, pEvent);
}

void CSplashWnd::StayAboveOwner() {
    if (c_pSplashWnd != this || !isVisible()) {
        return;
    }
    // Raised over its owner once the owner is on the screen. Not unmapped
    // and mapped again to become the owner's transient: a map that follows
    // an unmap before the window manager has let go of the window can leave
    // it unmanaged and unseen.
    raise();
}
