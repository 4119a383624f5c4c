// Menus loaded from the module's menu resources. A loaded menu is a QMenu
// whose actions carry the command ids; a menu bar resource loads as a menu
// whose items are the pop-ups.
#pragma once

#include <QPoint>
#include <functional>
#include <memory>
#include <vector>

#include "ResourceModule.h"

class QAction;

class CMenu {
public:
    CMenu() = default;
    ~CMenu();
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    BOOL LoadMenu(UINT nIDResource);
    // The pop-up at nPos, owned by this object; null when the item there is
    // not a pop-up.
    CMenu* GetSubMenu(int nPos);
    // The command id at nPos; 0 for a separator, -1 for a pop-up or no item.
    UINT GetMenuItemID(int nPos) const;
    UINT GetMenuItemCount() const;
    BOOL DestroyMenu();

    HMENU m_hMenu = nullptr;

private:
    BOOL m_bOwned = FALSE;
    std::vector<std::unique_ptr<CMenu>> m_subMenus;
};

// A new menu built from menu resource nID (null when there is none); the
// caller destroys it. Items carry their command's status-bar prompt.
HMENU LoadMenu(HINSTANCE hInstance, UINT nID);
BOOL DestroyMenu(HMENU hMenu);
// The command id of an item (0 for items without one).
UINT GetActionCommandId(const QAction* pAction);

// Draws the item at uItem (a position when fByPos) bold as the default item.
BOOL SetMenuDefaultItem(HMENU hMenu, UINT uItem, UINT fByPos);
// Shows the menu at x, y and posts the chosen item to hWnd as WM_COMMAND.
BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd,
                    const RECT* prcRect);
BOOL GetCursorPos(POINT* lpPoint);
BOOL SetForegroundWindow(HWND hWnd);

// Tests pick the item instead of a menu being shown: the hook gets the menu
// and position and returns the chosen command id, or 0 for none.
using AFX_TRACKMENU_HOOK = std::function<UINT(HMENU hMenu, POINT pt)>;
AFX_TRACKMENU_HOOK AfxSetTrackPopupMenuHook(AFX_TRACKMENU_HOOK pfnHook);
