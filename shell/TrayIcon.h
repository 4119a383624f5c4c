// One icon with a tool tip in the notification area, kept in step with a
// window: one resource number names the icon, its tip and its menu. A right
// click opens the menu (its first item bold), a double click runs the
// menu's first command.
#pragma once

#include "platform/ui/CmdTarget.h"
#include "platform/ui/ShellApi.h"

class CTrayIcon : public CCmdTarget {
    DECLARE_DYNAMIC(CTrayIcon)

public:
    // Loads the tip from string uID; no shell call.
    explicit CTrayIcon(UINT uID);
    // Removes the icon when one is shown.
    ~CTrayIcon() override;

    // The window that gets the callback message and the menu's commands.
    void SetNotificationWnd(QWidget* pNotifyWnd, UINT uCbMsg);
    // Icon and tip uID, or no icon for 0.
    BOOL SetIcon(UINT uID);
    // Adds, changes or removes the icon; a null icon removes it.
    BOOL SetIcon(HICON hIcon, LPCSTR lpTip);
    // 1 when the mouse event was handled.
    virtual LRESULT OnTrayNotification(WPARAM uID, LPARAM lEvent);

protected:
    NOTIFYICONDATA m_nid;
};
