#include "MDIFrameWnd.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QToolBar>
#include <algorithm>
#include <cmath>

#include "AfxRes.h"
#include "CmdUI.h"
#include "Document.h"
#include "KeyState.h"
#include "MDIChildWnd.h"
#include "Menu.h"
#include "Message.h"
#include "ResourceModule.h"
#include "StatusBar.h"
#include "ToolBar.h"
#include "VirtualKeys.h"
#include "WidgetIds.h"
#include "WinApp.h"

IMPLEMENT_DYNAMIC(CMDIFrameWnd, CCmdTarget)

namespace {
bool IsWindowMenu(const QMenu* pPopup) {
    for (const QAction* pAction : pPopup->actions()) {
        UINT nID = GetActionCommandId(pAction);
        if (nID >= ID_WINDOW_NEW && nID <= ID_WINDOW_TILE_HORZ) {
            return true;
        }
    }
    return false;
}

// A menu item's text as a person reads it: no mnemonic marks, no shortcut.
QString PlainItemText(QString strText) {
    strText = strText.section(QLatin1Char('\t'), 0, 0);
    QString strPlain;
    for (qsizetype i = 0; i < strText.size(); ++i) {
        if (strText[i] == QLatin1Char('&') && i + 1 < strText.size()) {
            ++i;  // "&&" is one "&"
        }
        strPlain += strText[i];
    }
    return strPlain;
}

// The MDI area, which says what to do first while it holds no window.
class CMDIClientArea : public QMdiArea {
public:
    explicit CMDIClientArea(CMDIFrameWnd* pFrame) : QMdiArea(pFrame), m_pFrame(pFrame) {}

protected:
    void paintEvent(QPaintEvent* pEvent) override {
        QMdiArea::paintEvent(pEvent);
        const QString strText = QString::fromStdString(m_pFrame->EmptyAreaText());
        if (strText.isEmpty()) {
            return;
        }
        QPainter painter(viewport());
        QFont font = painter.font();
        font.setPointSizeF(font.pointSizeF() * 1.25);
        painter.setFont(font);
        painter.setPen(palette().color(QPalette::BrightText));
        const int nMargin = painter.fontMetrics().height();
        painter.drawText(viewport()->rect().adjusted(nMargin, nMargin, -nMargin, -nMargin),
                         Qt::AlignCenter | Qt::TextWordWrap, strText);
    }

private:
    CMDIFrameWnd* m_pFrame;
};
}  // namespace

CMDIFrameWnd::CMDIFrameWnd() {
    MapCommand(ID_WINDOW_NEW, [this] { OnWindowNew(); });
    MapCommand(ID_WINDOW_CASCADE, [this] { m_pMDIClient->cascadeSubWindows(); });
    MapCommand(ID_WINDOW_TILE_HORZ, [this] { TileHorizontally(); });
    MapCommand(ID_WINDOW_ARRANGE, [this] { ArrangeIconic(); });
    for (UINT nID : {ID_WINDOW_NEW, ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ, ID_WINDOW_ARRANGE}) {
        MapUpdateCommandUI(nID,
                           [this](CCmdUI* pCmdUI) { pCmdUI->Enable(MDIGetActive() != nullptr); });
    }
    for (UINT nID : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR}) {
        MapCommand(nID, [this, nID] { OnBarCheck(nID); });
        MapUpdateCommandUI(nID, [this, nID](CCmdUI* pCmdUI) {
            QWidget* pBar = GetControlBar(nID);
            pCmdUI->Enable(pBar != nullptr);
            pCmdUI->SetCheck(pBar != nullptr && pBar->isVisible());
        });
    }
}

CMDIFrameWnd::~CMDIFrameWnd() {
    m_bDestroyed = TRUE;
    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr && pApp->m_pMainWnd == this) {
        pApp->m_pMainWnd = nullptr;
    }
    // Document windows leave their documents before the widgets go.
    if (m_pMDIClient != nullptr) {
        for (QMdiSubWindow* pWindow : m_pMDIClient->subWindowList()) {
            if (auto* pChild = qobject_cast<CMDIChildWnd*>(pWindow)) {
                pChild->DestroyWindow();
            }
        }
    }
    menuBar()->clear();
    DestroyMenu(m_hMenuDefault);
}

BOOL CMDIFrameWnd::LoadFrame(UINT nIDResource, DWORD dwDefaultStyle, QWidget*, CCreateContext*) {
    AfxLoadString(nIDResource, m_strTitle);
    QRect rcScreen = QGuiApplication::primaryScreen()
                         ? QGuiApplication::primaryScreen()->availableGeometry()
                         : QRect(0, 0, 1024, 768);
    // Where the system puts a window whose creator leaves it the choice.
    CREATESTRUCT cs{dwDefaultStyle,
                    rcScreen.x() + rcScreen.width() / 16,
                    rcScreen.y() + rcScreen.height() / 16,
                    rcScreen.width() * 3 / 4,
                    rcScreen.height() * 3 / 4,
                    m_strTitle};
    if (!PreCreateWindow(cs)) {
        return FALSE;
    }
    m_dwStyle = cs.style;
    m_strTitle = cs.strName;
    setWindowTitle(QString::fromStdString(m_strTitle));
    setGeometry(cs.x, cs.y, cs.cx, cs.cy);
    if (HICON hIcon = LoadIcon(AfxGetResourceHandle(), nIDResource)) {
        setWindowIcon(*hIcon);
    }
    m_hMenuDefault = LoadMenu(AfxGetResourceHandle(), nIDResource);
    SetMenu(m_hMenuDefault);
    LoadAccelTable(nIDResource);

    m_pMDIClient = new CMDIClientArea(this);
    m_pMDIClient->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pMDIClient->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_pMDIClient);
    connect(m_pMDIClient, &QMdiArea::subWindowActivated, this,
            [this](QMdiSubWindow* pWindow) { OnMDIActivate(pWindow); });

    if (OnCreate(&cs) == -1) {
        return FALSE;
    }
    OnUpdateFrameTitle(TRUE);
    return TRUE;
}

BOOL CMDIFrameWnd::PreCreateWindow(CREATESTRUCT&) {
    return TRUE;
}

int CMDIFrameWnd::OnCreate(LPCREATESTRUCT) {
    return 0;
}

CMDIChildWnd* CMDIFrameWnd::MDIGetActive() const {
    // The current window stays current while a dialog has the focus.
    return m_pMDIClient ? qobject_cast<CMDIChildWnd*>(m_pMDIClient->currentSubWindow()) : nullptr;
}

CDocument* CMDIFrameWnd::GetActiveDocument() const {
    CMDIChildWnd* pChild = MDIGetActive();
    return pChild ? pChild->GetActiveDocument() : nullptr;
}

BOOL CMDIFrameWnd::ShowWindow(int nCmdShow) {
    BOOL bWasVisible = isVisible();
    switch (nCmdShow) {
        case SW_HIDE:
            hide();
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
            showMinimized();
            break;
        case SW_SHOWMAXIMIZED:
            showMaximized();
            break;
        case SW_SHOW:
            show();
            raise();
            activateWindow();
            break;
        default:  // SW_SHOWNORMAL, SW_RESTORE
            showNormal();
            raise();
            activateWindow();
            break;
    }
    return bWasVisible;
}

void CMDIFrameWnd::UpdateWindow() {
    if (isVisible()) {
        repaint();
    }
}

void CMDIFrameWnd::DestroyWindow() {
    if (m_bDestroyed) {
        return;
    }
    m_bDestroyed = TRUE;
    hide();
    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr && pApp->m_pMainWnd == this) {
        pApp->m_pMainWnd = nullptr;
        AfxPostQuitMessage(0);
    }
    deleteLater();
}

LRESULT CMDIFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_COMMAND:
            SendCommand(LOWORD(wParam));
            return 0;
        case WM_CLOSE:
            OnClose();
            return 0;
        default:
            return 0;
    }
}

void CMDIFrameWnd::SendCommand(UINT nID) {
    if (m_bDestroyed) {
        return;
    }
    OnCmdMsg(nID, CN_COMMAND, nullptr, nullptr);
    if (!m_bDestroyed) {
        OnIdleUpdateCmdUI();
    }
}

BOOL CMDIFrameWnd::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) {
    CMDIChildWnd* pChild = MDIGetActive();
    if (pChild != nullptr && pChild->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo)) {
        return TRUE;
    }
    if (CCmdTarget::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo)) {
        return TRUE;
    }
    CWinApp* pApp = AfxGetApp();
    return pApp != nullptr && pApp->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

void CMDIFrameWnd::OnUpdateFrameTitle(BOOL bAddToTitle) {
    if (m_bDestroyed) {
        return;
    }
    CString strTitle = m_strTitle;
    CMDIChildWnd* pChild = MDIGetActive();
    if (bAddToTitle && (m_dwStyle & FWS_ADDTOTITLE) && pChild != nullptr) {
        CDocument* pDoc = pChild->GetActiveDocument();
        if (pChild->isMaximized()) {
            strTitle = m_strTitle + " - [" + pChild->windowTitle().toStdString() + "]";
        } else if (pDoc != nullptr) {
            strTitle = (m_dwStyle & FWS_PREFIXTITLE) ? pDoc->GetTitle() + " - " + m_strTitle
                                                     : m_strTitle + " - " + pDoc->GetTitle();
        }
    }
    m_strShownTitle = QString::fromStdString(strTitle);
    m_bSettingTitle = true;
    setWindowTitle(m_strShownTitle);
    m_bSettingTitle = false;
}

CString CMDIFrameWnd::EmptyAreaText() const {
    if (m_pMDIClient == nullptr || !m_pMDIClient->subWindowList().isEmpty()) {
        return CString();
    }
    return GetEmptyAreaText();
}

void CMDIFrameWnd::UpdateEmptyArea() {
    if (m_pMDIClient != nullptr && !m_bDestroyed) {
        m_pMDIClient->viewport()->update();
    }
}

CString CMDIFrameWnd::MenuPath(UINT nID) const {
    if (m_hMenuDefault == nullptr) {
        return CString();
    }
    for (const QAction* pTop : m_hMenuDefault->actions()) {
        const QMenu* pPopup = pTop->menu();
        if (pPopup == nullptr) {
            continue;
        }
        for (const QAction* pItem : pPopup->actions()) {
            if (GetActionCommandId(pItem) == nID) {
                return (PlainItemText(pTop->text()) + " > " + PlainItemText(pItem->text()))
                    .toStdString();
            }
        }
    }
    return CString();
}

void CMDIFrameWnd::SetMessageText(const CString& strText) {
    for (CStatusBar* pStatusBar : findChildren<CStatusBar*>(Qt::FindDirectChildrenOnly)) {
        pStatusBar->SetMessageText(strText);
    }
}

void CMDIFrameWnd::SetMessageText(UINT nID) {
    SetMessageText(AfxLoadString(nID));
}

void CMDIFrameWnd::OnIdleUpdateCmdUI() {
    for (CToolBar* pToolBar : findChildren<CToolBar*>(Qt::FindDirectChildrenOnly)) {
        for (QAction* pAction : pToolBar->actions()) {
            UINT nID = GetActionCommandId(pAction);
            if (nID != 0) {
                CCmdUI state(nID);
                state.DoUpdate(this, TRUE);
                pAction->setEnabled(state.m_bEnabled);
            }
        }
    }
    for (CStatusBar* pStatusBar : findChildren<CStatusBar*>(Qt::FindDirectChildrenOnly)) {
        for (int i = 0; i < pStatusBar->GetCount(); ++i) {
            switch (pStatusBar->GetItemID(i)) {
                case ID_INDICATOR_CAPS:
                    pStatusBar->EnablePane(i, GetKeyState(VK_CAPITAL) & 1);
                    break;
                case ID_INDICATOR_NUM:
                    pStatusBar->EnablePane(i, GetKeyState(VK_NUMLOCK) & 1);
                    break;
                case ID_INDICATOR_SCRL:
                    pStatusBar->EnablePane(i, GetKeyState(VK_SCROLL) & 1);
                    break;
                default:
                    break;
            }
        }
    }
}

void CMDIFrameWnd::OnChildDestroyed(CMDIChildWnd* pChild) {
    if (m_bDestroyed) {
        return;
    }
    if (m_pMDIClient->currentSubWindow() == nullptr || m_pMDIClient->currentSubWindow() == pChild) {
        const QList<QMdiSubWindow*> windows =
            m_pMDIClient->subWindowList(QMdiArea::ActivationHistoryOrder);
        for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
            if (*it != pChild && !qobject_cast<CMDIChildWnd*>(*it)->IsDestroying()) {
                m_pMDIClient->setActiveSubWindow(*it);
                break;
            }
        }
    }
    OnMDIActivate(m_pMDIClient->currentSubWindow());
}

void CMDIFrameWnd::OnSize(UINT, int, int) {}

void CMDIFrameWnd::OnShowWindow(BOOL, UINT) {}

void CMDIFrameWnd::OnClose() {
    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr && pApp->m_pMainWnd == this) {
        if (!pApp->SaveAllModified()) {
            return;
        }
        pApp->HideApplication();
        pApp->CloseAllDocuments(FALSE);
    }
    DestroyWindow();
}

void CMDIFrameWnd::OnWindowNew() {
    CMDIChildWnd* pActive = MDIGetActive();
    CDocument* pDoc = pActive ? pActive->GetActiveDocument() : nullptr;
    CMultiDocTemplate* pTemplate = pDoc ? pDoc->GetDocTemplate() : nullptr;
    if (pTemplate == nullptr) {
        return;
    }
    CMDIChildWnd* pFrame = pTemplate->CreateNewFrame(pDoc, pActive);
    if (pFrame != nullptr) {
        pTemplate->InitialUpdateFrame(pFrame, pDoc);
    }
}

void CMDIFrameWnd::OnBarCheck(UINT nID) {
    if (QWidget* pBar = GetControlBar(nID)) {
        pBar->setVisible(!pBar->isVisible());
    }
}

void CMDIFrameWnd::EnableDocking(DWORD dwDockStyle) {
    m_dwDockStyle = dwDockStyle & CBRS_ALIGN_ANY;
}

void CMDIFrameWnd::DockControlBar(QWidget* pBar) {
    auto* pToolBar = qobject_cast<QToolBar*>(pBar);
    if (pToolBar == nullptr || m_dwDockStyle == 0) {
        return;
    }
    Qt::ToolBarArea area = Qt::TopToolBarArea;
    if (!(m_dwDockStyle & CBRS_ALIGN_TOP) || !(pToolBar->allowedAreas() & Qt::TopToolBarArea)) {
        area = (m_dwDockStyle & CBRS_ALIGN_BOTTOM) ? Qt::BottomToolBarArea
               : (m_dwDockStyle & CBRS_ALIGN_LEFT) ? Qt::LeftToolBarArea
                                                   : Qt::RightToolBarArea;
    }
    addToolBar(area, pToolBar);
}

bool CMDIFrameWnd::event(QEvent* pEvent) {
    if (pEvent->type() == CMessageEvent::EventType()) {
        auto* pMessage = static_cast<CMessageEvent*>(pEvent);
        pMessage->m_lResult =
            WindowProc(pMessage->m_message, pMessage->m_wParam, pMessage->m_lParam);
        return true;
    }
    if (pEvent->type() == QEvent::WindowActivate && !m_bDestroyed) {
        OnIdleUpdateCmdUI();
    }
    if (pEvent->type() == QEvent::WindowTitleChange && !m_bSettingTitle && !m_bDestroyed &&
        !m_strShownTitle.isNull() && windowTitle() != m_strShownTitle) {
        OnUpdateFrameTitle(TRUE);
    }
    return QMainWindow::event(pEvent);
}

void CMDIFrameWnd::changeEvent(QEvent* pEvent) {
    QMainWindow::changeEvent(pEvent);
    if (pEvent->type() != QEvent::WindowStateChange || m_bDestroyed) {
        return;
    }
    if (!isMinimized()) {
        OnSize(SizeType(), width(), height());
        return;
    }
    // Minimised: reported once the change is complete, since the handler may
    // hide the window and a show still under way would undo that.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_bDestroyed) {
                UINT nType = SizeType();
                bool bMin = nType == SIZE_MINIMIZED;
                OnSize(nType, bMin ? 0 : width(), bMin ? 0 : height());
            }
        },
        Qt::QueuedConnection);
}

void CMDIFrameWnd::resizeEvent(QResizeEvent* pEvent) {
    QMainWindow::resizeEvent(pEvent);
    if (!isMinimized() && !m_bDestroyed) {
        OnSize(SizeType(), width(), height());
    }
}

void CMDIFrameWnd::closeEvent(QCloseEvent* pEvent) {
    // Closing is the frame's decision (OnClose), carried out by
    // DestroyWindow.
    pEvent->ignore();
    if (!m_bDestroyed) {
        OnClose();
    }
}

void CMDIFrameWnd::showEvent(QShowEvent* pEvent) {
    QMainWindow::showEvent(pEvent);
    OnShowWindow(TRUE, 0);
}

void CMDIFrameWnd::hideEvent(QHideEvent* pEvent) {
    QMainWindow::hideEvent(pEvent);
    OnShowWindow(FALSE, 0);
}

void CMDIFrameWnd::OnMDIActivate(QMdiSubWindow*) {
    if (m_bDestroyed) {
        return;
    }
    CMDIChildWnd* pChild = MDIGetActive();
    HMENU hMenu = pChild && pChild->GetSharedMenu() ? pChild->GetSharedMenu() : m_hMenuDefault;
    SetMenu(hMenu);
    OnUpdateFrameTitle(TRUE);
    OnIdleUpdateCmdUI();
    UpdateEmptyArea();
}

void CMDIFrameWnd::SetMenu(HMENU hMenu) {
    if (hMenu == m_hMenuCurrent) {
        return;
    }
    ConnectMenu(hMenu);
    menuBar()->clear();
    if (hMenu != nullptr) {
        for (QAction* pAction : hMenu->actions()) {
            menuBar()->addAction(pAction);
        }
    }
    m_hMenuCurrent = hMenu;
}

void CMDIFrameWnd::ConnectMenu(HMENU hMenu) {
    if (hMenu == nullptr || !m_connectedMenus.insert(hMenu).second) {
        return;
    }
    connect(hMenu, &QObject::destroyed, this, [this, hMenu] {
        m_connectedMenus.erase(hMenu);
        if (m_hMenuCurrent == hMenu) {
            m_hMenuCurrent = nullptr;
        }
    });
    for (QAction* pAction : hMenu->actions()) {
        if (QMenu* pPopup = pAction->menu()) {
            connect(pPopup, &QMenu::aboutToShow, this, [this, pPopup] { UpdateMenuState(pPopup); });
            for (QAction* pItem : pPopup->actions()) {
                UINT nID = GetActionCommandId(pItem);
                if (nID != 0) {
                    connect(pItem, &QAction::triggered, this, [this, nID] { SendCommand(nID); });
                }
            }
        }
    }
}

void CMDIFrameWnd::UpdateMenuState(QMenu* pPopup) {
    for (QAction* pAction : pPopup->actions()) {
        UINT nID = GetActionCommandId(pAction);
        if (nID == 0 || nID >= AFX_IDM_FIRST_MDICHILD) {
            continue;
        }
        CCmdUI state(nID);
        state.DoUpdate(this, TRUE);
        pAction->setEnabled(state.m_bEnabled);
        if (state.m_bCheckChanged) {
            pAction->setCheckable(true);
            pAction->setChecked(state.m_nCheck == 1);
        }
        if (state.m_bTextChanged) {
            pAction->setText(QString::fromStdString(state.m_strText));
        }
        if (state.m_bVisibleChanged) {
            pAction->setVisible(state.m_bVisible);
        }
    }
    if (IsWindowMenu(pPopup)) {
        FillWindowList(pPopup);
    }
}

void CMDIFrameWnd::FillWindowList(QMenu* pPopup) {
    for (QAction* pAction : m_windowListActions) {
        pPopup->removeAction(pAction);
        delete pAction;
    }
    m_windowListActions.clear();
    const QList<QMdiSubWindow*> windows = m_pMDIClient->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty()) {
        return;
    }
    m_windowListActions.push_back(pPopup->addSeparator());
    int nNumber = 1;
    for (QMdiSubWindow* pWindow : windows) {
        if (nNumber > 9) {
            break;
        }
        QString strText = QStringLiteral("&%1 %2").arg(nNumber).arg(pWindow->windowTitle());
        QAction* pAction = pPopup->addAction(strText);
        pAction->setProperty(kCommandIdProperty, AFX_IDM_FIRST_MDICHILD + nNumber - 1);
        pAction->setCheckable(true);
        pAction->setChecked(pWindow == m_pMDIClient->currentSubWindow());
        connect(pAction, &QAction::triggered, this, [this, pWindow] {
            if (m_pMDIClient->subWindowList().contains(pWindow)) {
                m_pMDIClient->setActiveSubWindow(pWindow);
            }
        });
        m_windowListActions.push_back(pAction);
        ++nNumber;
    }
}

void CMDIFrameWnd::LoadAccelTable(UINT nIDResource) {
    HINSTANCE hInst = AfxGetResourceHandle();
    const CAcceleratorTable* pTable = hInst ? hInst->FindAccelerators(nIDResource) : nullptr;
    if (pTable == nullptr) {
        return;
    }
    for (const ACCEL& accel : pTable->entries) {
        int nKey = (accel.fVirt & FVIRTKEY) ? QtKeyFromVirtualKey(accel.key) : accel.key;
        if (nKey == Qt::Key_unknown) {
            continue;
        }
        Qt::KeyboardModifiers mods;
        if (accel.fVirt & FCONTROL) {
            mods |= Qt::ControlModifier;
        }
        if (accel.fVirt & FSHIFT) {
            mods |= Qt::ShiftModifier;
        }
        if (accel.fVirt & FALT) {
            mods |= Qt::AltModifier;
        }
        auto* pShortcut =
            new QShortcut(QKeySequence(QKeyCombination(mods, static_cast<Qt::Key>(nKey))), this);
        pShortcut->setContext(Qt::WindowShortcut);
        UINT nID = accel.cmd;
        connect(pShortcut, &QShortcut::activated, this,
                [this, nID] { SendMessage(this, WM_COMMAND, MAKEWPARAM(nID, 1), 0); });
    }
}

QWidget* CMDIFrameWnd::GetControlBar(UINT nID) const {
    for (QWidget* pChild : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        QVariant v = pChild->property(kBarIdProperty);
        if (v.isValid() && v.toUInt() == nID) {
            return pChild;
        }
    }
    return nullptr;
}

void CMDIFrameWnd::ArrangeIconic() {
    int x = 0;
    for (QMdiSubWindow* pWindow : m_pMDIClient->subWindowList(QMdiArea::CreationOrder)) {
        if (pWindow->isMinimized()) {
            int cy = pWindow->height();
            pWindow->move(x, m_pMDIClient->viewport()->height() - cy);
            x += pWindow->width();
        }
    }
}

void CMDIFrameWnd::TileHorizontally() {
    // The active window first, then the others from the top of the stack.
    std::vector<QMdiSubWindow*> windows;
    int cyIcons = 0;
    QList<QMdiSubWindow*> stack = m_pMDIClient->subWindowList(QMdiArea::StackingOrder);
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if ((*it)->isMinimized()) {
            cyIcons = std::max(cyIcons, (*it)->height());
        } else if ((*it)->isVisible()) {
            windows.push_back(*it);
        }
    }
    if (windows.empty()) {
        return;
    }
    QRect rcArea = m_pMDIClient->viewport()->rect();
    // The row of minimised windows along the bottom stays clear.
    rcArea.setBottom(rcArea.bottom() - cyIcons);
    // Full-width windows stacked one above the other; past three, columns
    // of them, the later columns taking the extra rows.
    int nWindows = static_cast<int>(windows.size());
    int nColumns = nWindows <= 3 ? 1 : static_cast<int>(std::sqrt(nWindows));
    size_t iWindow = 0;
    for (int nColumn = 0; nColumn < nColumns; ++nColumn) {
        int nRows = nWindows / nColumns + (nColumn >= nColumns - nWindows % nColumns ? 1 : 0);
        int left = rcArea.left() + rcArea.width() * nColumn / nColumns;
        int right = rcArea.left() + rcArea.width() * (nColumn + 1) / nColumns;
        for (int nRow = 0; nRow < nRows; ++nRow, ++iWindow) {
            int top = rcArea.top() + rcArea.height() * nRow / nRows;
            int bottom = rcArea.top() + rcArea.height() * (nRow + 1) / nRows;
            QMdiSubWindow* pWindow = windows[iWindow];
            if (pWindow->isMaximized()) {
                pWindow->showNormal();
            }
            pWindow->setGeometry(left, top, right - left, bottom - top);
        }
    }
}

UINT CMDIFrameWnd::SizeType() const {
    if (isMinimized()) {
        return SIZE_MINIMIZED;
    }
    return isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
}
