#include "Menu.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QWidget>

#include "Message.h"
#include "WidgetIds.h"

namespace {
AFX_TRACKMENU_HOOK& TrackHook() {
    static AFX_TRACKMENU_HOOK hook;
    return hook;
}

CString PromptOf(UINT nID) {
    CString str = AfxLoadString(nID);
    size_t nNewline = str.find('\n');
    return nNewline == CString::npos ? str : str.substr(0, nNewline);
}

void AddItems(QMenu* pMenu, const std::vector<CMenuItemTemplate>& items) {
    for (const CMenuItemTemplate& item : items) {
        if (item.nFlags & MF_SEPARATOR) {
            pMenu->addSeparator();
        } else if (item.nFlags & MF_POPUP) {
            QMenu* pPopup = new QMenu(QString::fromStdString(item.strText), pMenu);
            AddItems(pPopup, item.popup);
            pMenu->addMenu(pPopup);
        } else {
            QAction* pAction = pMenu->addAction(QString::fromStdString(item.strText));
            pAction->setProperty(kCommandIdProperty, item.nID);
            pAction->setStatusTip(QString::fromStdString(PromptOf(item.nID)));
        }
    }
}

QAction* ActionAt(HMENU hMenu, int nPos) {
    if (hMenu == nullptr || nPos < 0 || nPos >= hMenu->actions().size()) {
        return nullptr;
    }
    return hMenu->actions().at(nPos);
}
}  // namespace

CMenu::~CMenu() {
    DestroyMenu();
}

BOOL CMenu::LoadMenu(UINT nIDResource) {
    DestroyMenu();
    m_hMenu = ::LoadMenu(AfxGetResourceHandle(), nIDResource);
    m_bOwned = m_hMenu != nullptr;
    return m_bOwned;
}

CMenu* CMenu::GetSubMenu(int nPos) {
    QAction* pAction = ActionAt(m_hMenu, nPos);
    if (pAction == nullptr || pAction->menu() == nullptr) {
        return nullptr;
    }
    auto pSub = std::make_unique<CMenu>();
    pSub->m_hMenu = pAction->menu();
    m_subMenus.push_back(std::move(pSub));
    return m_subMenus.back().get();
}

UINT CMenu::GetMenuItemID(int nPos) const {
    QAction* pAction = ActionAt(m_hMenu, nPos);
    if (pAction == nullptr || pAction->menu() != nullptr) {
        return static_cast<UINT>(-1);
    }
    return pAction->isSeparator() ? 0 : GetActionCommandId(pAction);
}

UINT CMenu::GetMenuItemCount() const {
    return m_hMenu ? static_cast<UINT>(m_hMenu->actions().size()) : 0;
}

BOOL CMenu::DestroyMenu() {
    m_subMenus.clear();
    if (m_hMenu == nullptr) {
        return FALSE;
    }
    if (m_bOwned) {
        ::DestroyMenu(m_hMenu);
    }
    m_hMenu = nullptr;
    m_bOwned = FALSE;
    return TRUE;
}

HMENU LoadMenu(HINSTANCE hInstance, UINT nID) {
    const CMenuTemplate* pTemplate = hInstance ? hInstance->FindMenu(nID) : nullptr;
    if (pTemplate == nullptr) {
        return nullptr;
    }
    QMenu* pMenu = new QMenu();
    AddItems(pMenu, pTemplate->items);
    return pMenu;
}

BOOL DestroyMenu(HMENU hMenu) {
    if (hMenu == nullptr) {
        return FALSE;
    }
    delete hMenu;
    return TRUE;
}

UINT GetActionCommandId(const QAction* pAction) {
    return pAction ? pAction->property(kCommandIdProperty).toUInt() : 0;
}

BOOL SetMenuDefaultItem(HMENU hMenu, UINT uItem, UINT fByPos) {
    QAction* pTarget = nullptr;
    if (hMenu == nullptr) {
        return FALSE;
    }
    const QList<QAction*> actions = hMenu->actions();
    for (int i = 0; i < actions.size(); ++i) {
        bool bMatch =
            fByPos ? static_cast<UINT>(i) == uItem : GetActionCommandId(actions[i]) == uItem;
        QFont font = actions[i]->font();
        font.setBold(bMatch);
        actions[i]->setFont(font);
        if (bMatch) {
            pTarget = actions[i];
        }
    }
    return pTarget != nullptr;
}

BOOL TrackPopupMenu(HMENU hMenu, UINT, int x, int y, int, HWND hWnd, const RECT*) {
    if (hMenu == nullptr) {
        return FALSE;
    }
    UINT nID = 0;
    if (TrackHook()) {
        nID = TrackHook()(hMenu, POINT{x, y});
    } else {
        QAction* pChosen = hMenu->exec(QPoint(x, y));
        nID = GetActionCommandId(pChosen);
    }
    if (nID != 0) {
        PostMessage(hWnd, WM_COMMAND, nID, 0);
    }
    return TRUE;
}

BOOL GetCursorPos(POINT* lpPoint) {
    if (lpPoint == nullptr) {
        return FALSE;
    }
    QPoint pos = QCursor::pos();
    lpPoint->x = pos.x();
    lpPoint->y = pos.y();
    return TRUE;
}

BOOL SetForegroundWindow(HWND hWnd) {
    if (hWnd == nullptr) {
        return FALSE;
    }
    if (hWnd->isVisible()) {
        hWnd->raise();
        hWnd->activateWindow();
    }
    return TRUE;
}

AFX_TRACKMENU_HOOK AfxSetTrackPopupMenuHook(AFX_TRACKMENU_HOOK pfnHook) {
    AFX_TRACKMENU_HOOK previous = std::move(TrackHook());
    TrackHook() = std::move(pfnHook);
    return previous;
}
