// The main window: menus, tool bar and status bar, the document windows,
// the notification-area icon while minimised, and the program's own
// commands (Connections, type-library registration, restore, terminate).
#pragma once

#include <QPointer>
#include <functional>

#include "TrayIcon.h"
#include "platform/ui/MDIFrameWnd.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/ToolBar.h"

class CMainFrame : public CMDIFrameWnd {
    Q_OBJECT
    DECLARE_DYNAMIC(CMainFrame)

public:
    CMainFrame();
    ~CMainFrame() override;

    // TRUE only when the library was loaded and registered with S_OK.
    BOOL RegisterTypeLibrary(const char* pszPath);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The Connections dialog, run modally by OnConnections; until a runner
    // is set the command opens nothing.
    using PFN_CONNECTIONS_DLG = std::function<void()>;
    static void SetConnectionsDialog(PFN_CONNECTIONS_DLG pfnRun);

    // While no test window is open: with no connections, how to add one;
    // with some, how to open a window.
    CString GetEmptyAreaText() const override;

    // The traffic monitor, one for the application; null until first shown.
    class CTrafficWnd* GetTrafficWnd() const;
    // The Tools window of a command; null until first shown.
    class CToolWnd* GetToolWnd(UINT nID) const;
    // Whether a Tools window's run is using a connection's master: the
    // connections must then stay as they are.
    bool IsToolRunning() const;
    // The open workspace; there from the window's creation on.
    class CWorkspaceSession* GetWorkspace() const {
        return m_pWorkspace;
    }

    CStatusBar m_wndStatusBar;
    CToolBar m_wndToolBar;
    CTrayIcon m_trayIcon;
    BOOL m_bConnectionsDlgOpen = FALSE;

protected:
    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    int OnCreate(LPCREATESTRUCT lpCreateStruct) override;
    void OnSize(UINT nType, int cx, int cy) override;
    void OnShowWindow(BOOL bShow, UINT nStatus) override;
    // Waits for a running Connections dialog: it runs inside this frame's
    // own command handler.
    void OnClose() override;

    LRESULT OnTrayNotification(WPARAM wParam, LPARAM lParam);
    void OnConnections();
    void OnPollDevice();
    void OnTrayConnections();
    void OnRegisterTypeLibrary();
    void OnViewTraffic();
    // Shows the Tools window of the command, one of each for the application.
    void OnTool(UINT nID);

private:
    QPointer<QWidget> m_pTraffic;
    QPointer<QWidget> m_tools[3];
    class CWorkspaceSession* m_pWorkspace = nullptr;  // a child of this window
    BOOL m_bCloseAfterDialog = FALSE;
};
