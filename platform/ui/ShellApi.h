// The notification-area icon over QSystemTrayIcon. Mouse events on an icon
// reach its window as the callback message, wParam the icon's id and lParam
// the mouse message.
#pragma once

#include <functional>

#include "WinUser.h"

constexpr DWORD NIM_ADD = 0x0;
constexpr DWORD NIM_MODIFY = 0x1;
constexpr DWORD NIM_DELETE = 0x2;

constexpr UINT NIF_MESSAGE = 0x1;
constexpr UINT NIF_ICON = 0x2;
constexpr UINT NIF_TIP = 0x4;

// The first version of the record, 88 bytes on the system it comes from.
constexpr DWORD NOTIFYICONDATA_V1_SIZE = 88;

struct NOTIFYICONDATA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    char szTip[64];
};

// NIM_ADD fails when the icon exists or the desktop has no notification area;
// NIM_MODIFY and NIM_DELETE fail when it does not exist. An icon is known by
// hWnd and uID.
BOOL Shell_NotifyIconA(DWORD dwMessage, NOTIFYICONDATA* lpData);

// Tests stand a recorder in for the shell: it sees every call and gives the
// result. Returns the hook it replaces.
using AFX_NOTIFYICON_HOOK = std::function<BOOL(DWORD dwMessage, const NOTIFYICONDATA& data)>;
AFX_NOTIFYICON_HOOK AfxSetNotifyIconHook(AFX_NOTIFYICON_HOOK pfnHook);
