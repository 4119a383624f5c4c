#include "TrayIcon.h"

#include <cstring>

#include "platform/ui/Menu.h"
#include "platform/ui/Message.h"
#include "platform/ui/ResourceModule.h"

IMPLEMENT_DYNAMIC(CTrayIcon, CCmdTarget)

CTrayIcon::CTrayIcon(UINT uID) {
    std::memset(&m_nid, 0, sizeof m_nid);
    m_nid.cbSize = NOTIFYICONDATA_V1_SIZE;
    m_nid.uID = uID;
    LoadString(AfxGetResourceHandle(), uID, m_nid.szTip, sizeof m_nid.szTip);
}

CTrayIcon::~CTrayIcon() {
    SetIcon(0U);
}

void CTrayIcon::SetNotificationWnd(QWidget* pNotifyWnd, UINT uCbMsg) {
    m_nid.hWnd = pNotifyWnd;
    m_nid.uCallbackMessage = uCbMsg;
}

BOOL CTrayIcon::SetIcon(UINT uID) {
    HICON hIcon = nullptr;
    if (uID != 0) {
        LoadString(AfxGetResourceHandle(), uID, m_nid.szTip, sizeof m_nid.szTip);
        hIcon = LoadIcon(AfxGetResourceHandle(), uID);
    }
    return SetIcon(hIcon, nullptr);
}

BOOL CTrayIcon::SetIcon(HICON hIcon, LPCSTR lpTip) {
    UINT msg;
    m_nid.uFlags = 0;
    if (hIcon != nullptr) {
        msg = m_nid.hIcon != nullptr ? NIM_MODIFY : NIM_ADD;
        m_nid.hIcon = hIcon;
        m_nid.uFlags = NIF_ICON;
    } else {
        if (m_nid.hIcon == nullptr) {
            return TRUE;  // already gone
        }
        msg = NIM_DELETE;
    }
    if (lpTip != nullptr) {
        std::strncpy(m_nid.szTip, lpTip, sizeof m_nid.szTip - 1);
        m_nid.szTip[sizeof m_nid.szTip - 1] = '\0';
    }
    if (m_nid.szTip[0] != '\0') {
        m_nid.uFlags |= NIF_TIP;
    }
    if (m_nid.uCallbackMessage != 0 && m_nid.hWnd != nullptr) {
        m_nid.uFlags |= NIF_MESSAGE;
    }
    BOOL bRet = Shell_NotifyIconA(msg, &m_nid);
    if (msg == NIM_DELETE || !bRet) {
        m_nid.hIcon = nullptr;  // a failed add is tried as an add again
    }
    return bRet;
}

LRESULT CTrayIcon::OnTrayNotification(WPARAM wID, LPARAM lEvent) {
    if (wID != m_nid.uID || (lEvent != WM_RBUTTONUP && lEvent != WM_LBUTTONDBLCLK)) {
        return 0;
    }
    // The menu of the same number, loaded afresh each time.
    CMenu menu;
    if (!menu.LoadMenu(m_nid.uID)) {
        return 0;
    }
    CMenu* pSubMenu = menu.GetSubMenu(0);
    if (pSubMenu == nullptr) {
        return 0;
    }
    if (lEvent == WM_RBUTTONUP) {
        SetMenuDefaultItem(pSubMenu->m_hMenu, 0, TRUE);
        POINT mouse;
        GetCursorPos(&mouse);
        SetForegroundWindow(m_nid.hWnd);
        TrackPopupMenu(pSubMenu->m_hMenu, 0, mouse.x, mouse.y, 0, m_nid.hWnd, nullptr);
    } else {
        SendMessage(m_nid.hWnd, WM_COMMAND, pSubMenu->GetMenuItemID(0), 0);
    }
    menu.DestroyMenu();
    return 1;
}
