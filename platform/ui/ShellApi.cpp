#include "ShellApi.h"

#include <QCoreApplication>
#include <QIcon>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <map>
#include <memory>

#include "Message.h"

namespace {
AFX_NOTIFYICON_HOOK& Hook() {
    static AFX_NOTIFYICON_HOOK hook;
    return hook;
}

struct CShownIcon {
    std::unique_ptr<QSystemTrayIcon> pTrayIcon;
    QPointer<QWidget> pWnd;
    UINT uCallbackMessage = 0;
};

using IconKey = std::pair<HWND, UINT>;

std::map<IconKey, CShownIcon>& ShownIcons() {
    static std::map<IconKey, CShownIcon> icons;
    return icons;
}

bool g_bCleanupRegistered = false;

// Icons left at exit go before the application object does.
void RemoveAllIcons() {
    ShownIcons().clear();
    g_bCleanupRegistered = false;
}

UINT MouseMessageOf(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Context:
            return WM_RBUTTONUP;
        case QSystemTrayIcon::DoubleClick:
            return WM_LBUTTONDBLCLK;
        case QSystemTrayIcon::Trigger:
            return WM_LBUTTONUP;
        case QSystemTrayIcon::MiddleClick:
            return WM_MBUTTONUP;
        default:
            return 0;
    }
}

void Apply(CShownIcon& shown, const NOTIFYICONDATA& data) {
    if (data.uFlags & NIF_ICON) {
        shown.pTrayIcon->setIcon(data.hIcon ? *data.hIcon : QIcon());
    }
    if (data.uFlags & NIF_TIP) {
        shown.pTrayIcon->setToolTip(QString::fromUtf8(data.szTip));
    }
    if (data.uFlags & NIF_MESSAGE) {
        shown.pWnd = data.hWnd;
        shown.uCallbackMessage = data.uCallbackMessage;
    }
}
}  // namespace

BOOL Shell_NotifyIconA(DWORD dwMessage, NOTIFYICONDATA* lpData) {
    if (lpData == nullptr) {
        return FALSE;
    }
    if (Hook()) {
        return Hook()(dwMessage, *lpData);
    }
    auto& icons = ShownIcons();
    IconKey key(lpData->hWnd, lpData->uID);
    auto it = icons.find(key);
    switch (dwMessage) {
        case NIM_ADD: {
            if (it != icons.end() || !QSystemTrayIcon::isSystemTrayAvailable()) {
                return FALSE;
            }
            CShownIcon& shown = icons[key];
            shown.pTrayIcon = std::make_unique<QSystemTrayIcon>();
            Apply(shown, *lpData);
            UINT uID = lpData->uID;
            QObject::connect(shown.pTrayIcon.get(), &QSystemTrayIcon::activated,
                             [key, uID](QSystemTrayIcon::ActivationReason reason) {
                                 auto found = ShownIcons().find(key);
                                 UINT nMouse = MouseMessageOf(reason);
                                 if (found == ShownIcons().end() || nMouse == 0 ||
                                     found->second.uCallbackMessage == 0) {
                                     return;
                                 }
                                 // Posted: the handler may run a menu, which
                                 // must not nest inside the tray's own event.
                                 PostMessage(found->second.pWnd, found->second.uCallbackMessage,
                                             uID, static_cast<LPARAM>(nMouse));
                             });
            shown.pTrayIcon->show();
            if (!g_bCleanupRegistered) {
                qAddPostRoutine(RemoveAllIcons);
                g_bCleanupRegistered = true;
            }
            return TRUE;
        }
        case NIM_MODIFY:
            if (it == icons.end()) {
                return FALSE;
            }
            Apply(it->second, *lpData);
            return TRUE;
        case NIM_DELETE:
            if (it == icons.end()) {
                return FALSE;
            }
            icons.erase(it);
            return TRUE;
        default:
            return FALSE;
    }
}

AFX_NOTIFYICON_HOOK AfxSetNotifyIconHook(AFX_NOTIFYICON_HOOK pfnHook) {
    AFX_NOTIFYICON_HOOK previous = std::move(Hook());
    Hook() = std::move(pfnHook);
    return previous;
}
