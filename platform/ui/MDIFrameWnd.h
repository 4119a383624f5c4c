// The MDI main frame: its menu, accelerators and icon from one resource id,
// the MDI area with the document windows, the menu switch between its own
// menu and the active document's, the window commands, the control-bar
// toggles, and the close that ends the application.
#pragma once

#include <QMainWindow>
#include <set>
#include <vector>

#include "AfxRes.h"
#include "CmdTarget.h"
#include "DocTemplate.h"

class QMdiArea;
class QMdiSubWindow;
class QShortcut;
class CMDIChildWnd;
class CDocument;

class CMDIFrameWnd : public QMainWindow, public CCmdTarget {
    Q_OBJECT
    DECLARE_DYNAMIC(CMDIFrameWnd)

public:
    CMDIFrameWnd();
    ~CMDIFrameWnd() override;

    // Title (string nIDResource), menu, accelerators and icon, then the MDI
    // area and OnCreate. FALSE when PreCreateWindow or OnCreate refuse; the
    // caller then deletes the object.
    BOOL LoadFrame(UINT nIDResource, DWORD dwDefaultStyle = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE,
                   QWidget* pParentWnd = nullptr, CCreateContext* pContext = nullptr);

    CMDIChildWnd* MDIGetActive() const;
    CDocument* GetActiveDocument() const;
    QMdiArea* GetMDIClient() const { return m_pMDIClient; }
    HMENU GetDefaultMenu() const { return m_hMenuDefault; }
    // The menu the menu bar shows now.
    HMENU GetCurrentMenu() const { return m_hMenuCurrent; }

    BOOL ShowWindow(int nCmdShow);
    void UpdateWindow();
    // Hides and deletes the frame; as the main window it ends the message
    // loop.
    void DestroyWindow();

    // WM_COMMAND and WM_CLOSE; derived frames add their messages.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs command nID along the route, as a menu or accelerator would.
    void SendCommand(UINT nID);
    // The active document window first, then the frame, then the
    // application.
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;

    // The title always names the active document window: "App - Doc" while
    // it is restored, "App - [Child]" while it is maximised, "App" with none.
    virtual void OnUpdateFrameTitle(BOOL bAddToTitle);
    // The status bar's message pane; nothing without a status bar. The id
    // form shows a string, AFX_IDS_IDLEMESSAGE the idle text.
    void SetMessageText(const CString& strText);
    void SetMessageText(UINT nID);
    // What the MDI area shows while it holds no document window, e.g. what
    // to do first; empty for nothing. EmptyAreaText is what it shows now.
    virtual CString GetEmptyAreaText() const { return CString(); }
    CString EmptyAreaText() const;
    // Paints the MDI area again, as after GetEmptyAreaText's answer changed.
    void UpdateEmptyArea();
    // "File > New": the way to a command through the frame's own menu, as
    // its items read without their mnemonics and shortcuts; empty when the
    // menu has no such item.
    CString MenuPath(UINT nID) const;
    // Refreshes tool-bar buttons, menu checks and the key indicators.
    virtual void OnIdleUpdateCmdUI();
    // Called by a document window as it goes.
    void OnChildDestroyed(CMDIChildWnd* pChild);

protected:
    virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
    virtual int OnCreate(LPCREATESTRUCT lpCreateStruct);
    virtual void OnSize(UINT nType, int cx, int cy);
    virtual void OnShowWindow(BOOL bShow, UINT nStatus);
    virtual void OnClose();

    void OnWindowNew();
    void OnBarCheck(UINT nID);
    // The sides a tool bar may be docked on (CBRS_ALIGN_...), then where
    // DockControlBar puts it: the top when allowed.
    void EnableDocking(DWORD dwDockStyle);
    void DockControlBar(QWidget* pBar);

    bool event(QEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;

    CString m_strTitle;
    DWORD m_dwStyle = 0;

private:
    void OnMDIActivate(QMdiSubWindow* pWindow);
    void SetMenu(HMENU hMenu);
    void ConnectMenu(HMENU hMenu);
    void UpdateMenuState(QMenu* pPopup);
    void FillWindowList(QMenu* pPopup);
    void LoadAccelTable(UINT nIDResource);
    QWidget* GetControlBar(UINT nID) const;
    void ArrangeIconic();
    // "Tile": the document windows full width, one above the other.
    void TileHorizontally();
    UINT SizeType() const;

    QMdiArea* m_pMDIClient = nullptr;
    HMENU m_hMenuDefault = nullptr;
    HMENU m_hMenuCurrent = nullptr;
    std::set<HMENU> m_connectedMenus;
    std::vector<QAction*> m_windowListActions;
    BOOL m_bDestroyed = FALSE;
    DWORD m_dwDockStyle = 0;
    // The title OnUpdateFrameTitle made. The MDI area writes its own on a
    // maximise or restore, from whatever title it saw first; that is put
    // back at once.
    QString m_strShownTitle;
    bool m_bSettingTitle = false;
};
