#include "ModalWindow.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include "WinApp.h"

namespace {
const QString kGuardName = QStringLiteral("regprobeModalGuard");

// Lives as a child of the modal window, so it goes when the window goes.
class CModalGuard : public QObject {
public:
    explicit CModalGuard(QWidget* pWindow) : QObject(pWindow), m_pWindow(pWindow) {
        setObjectName(kGuardName);
        pWindow->installEventFilter(this);
        WatchOwner();
    }

protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override {
        if (pObject == m_pWindow) {
            if (pEvent->type() == QEvent::Show) {
                // The main window may have changed since the guard was made.
                WatchOwner();
            } else if (pEvent->type() == QEvent::WindowStateChange && m_pWindow->isMinimized()) {
                // Queued: the window manager may be minimising the owner at
                // the same moment.
                QMetaObject::invokeMethod(
                    this, [this] { MinimiseOwner(); }, Qt::QueuedConnection);
            }
        } else if (pObject == m_pOwner && (pEvent->type() == QEvent::Show ||
                                           pEvent->type() == QEvent::WindowStateChange)) {
            QMetaObject::invokeMethod(
                this, [this] { FollowOwner(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    // The window whose fate the modal window shares: the main window, else
    // its own parent's window.
    QWidget* Owner() const {
        if (QWidget* pMain = AfxGetMainWnd(); pMain != nullptr && pMain != m_pWindow) {
            return pMain;
        }
        QWidget* pParent = m_pWindow->parentWidget();
        return pParent != nullptr ? pParent->window() : nullptr;
    }

    void WatchOwner() {
        QWidget* pOwner = Owner();
        if (pOwner == m_pOwner) {
            return;
        }
        if (m_pOwner != nullptr) {
            m_pOwner->removeEventFilter(this);
        }
        m_pOwner = pOwner;
        if (m_pOwner != nullptr) {
            m_pOwner->installEventFilter(this);
        }
    }

    void MinimiseOwner() {
        if (m_pWindow->isVisible() && m_pWindow->isMinimized() && m_pOwner != nullptr &&
            m_pOwner->isVisible() && !m_pOwner->isMinimized()) {
            m_pOwner->showMinimized();
        }
    }

    void FollowOwner() {
        if (m_pOwner == nullptr || !m_pOwner->isVisible() || m_pOwner->isMinimized() ||
            !m_pWindow->isVisible()) {
            return;
        }
        if (m_pWindow->isMinimized()) {
            m_pWindow->showNormal();
        }
        // Of modal windows over one another, the one that takes input.
        if (QApplication::activeModalWidget() == m_pWindow) {
            m_pWindow->raise();
            m_pWindow->activateWindow();
        }
    }

    QWidget* m_pWindow;
    QPointer<QWidget> m_pOwner;
};
}  // namespace

void AfxPrepareModalWindow(QWidget* pWindow) {
    Qt::WindowFlags flags = pWindow->windowFlags();
    // Without the customize hint the window system picks the boxes itself.
    if (!(flags & Qt::CustomizeWindowHint)) {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint;
    }
    flags &= ~Qt::WindowMinMaxButtonsHint;
    if (flags != pWindow->windowFlags()) {
        pWindow->setWindowFlags(flags);
    }
    if (pWindow->findChild<QObject*>(kGuardName, Qt::FindDirectChildrenOnly) == nullptr) {
        new CModalGuard(pWindow);
    }
}
