#include "MainFrm.h"

#include <QCoreApplication>
#include <QTimer>
#include <iterator>

#include "Splash.h"
#include "WorkspaceSession.h"
#include "connections/Connections.h"
#include "monitor/TrafficWnd.h"
#include "platform/Unicode.h"
#include "platform/com/ComPtr.h"
#include "platform/com/TypeLib.h"
#include "platform/ui/CmdUI.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MessageBox.h"
#include "res/Resource.h"
#include "scan/ui/ToolWindows.h"
#include "testview/ui/RegprobeDoc.h"

IMPLEMENT_DYNAMIC(CMainFrame, CMDIFrameWnd)

namespace {
const UINT indicators[] = {
    ID_SEPARATOR,  // the message pane
    ID_INDICATOR_CAPS,
    ID_INDICATOR_NUM,
    ID_INDICATOR_SCRL,
};

CMainFrame::PFN_CONNECTIONS_DLG& ConnectionsDialog() {
    static CMainFrame::PFN_CONNECTIONS_DLG pfnRun;
    return pfnRun;
}

// Room for a path as the system's own calls take it.
constexpr size_t kMaxPath = 260;
}  // namespace

CMainFrame::CMainFrame() : m_trayIcon(IDR_TRAYICON) {
    MapCommand(ID_OPTIONS_CONNECTIONS, [this] { OnConnections(); });
    MapCommand(ID_TRAY_POLL_DEVICE, [this] { OnPollDevice(); });
    MapCommand(ID_TRAY_CONNECTIONS, [this] { OnTrayConnections(); });
    MapCommand(ID_TRAY_TERMINATE, [this] { OnClose(); });
    MapCommand(ID_OPTIONS_REGISTER_TYPELIB, [this] { OnRegisterTypeLibrary(); });
    MapCommand(ID_VIEW_TRAFFIC, [this] { OnViewTraffic(); });
    for (UINT nID : {ID_TOOLS_SCAN_UNITS, ID_TOOLS_SCAN_ADDRESSES, ID_TOOLS_SEND_REQUEST}) {
        MapCommand(nID, [this, nID] { OnTool(nID); });
    }
    MapCommand(ID_FILE_OPEN_WORKSPACE, [this] { m_pWorkspace->OnOpen(); });
    MapCommand(ID_FILE_SAVE_WORKSPACE, [this] { m_pWorkspace->OnSave(); });
    MapCommand(ID_FILE_SAVE_WORKSPACE_AS, [this] { m_pWorkspace->OnSaveAs(); });
    MapCommand(ID_OPTIONS_PREFERENCES, [this] { m_pWorkspace->OnPreferences(); });
    for (UINT i = 0; i < RECENT_WORKSPACE_COUNT; ++i) {
        MapCommand(ID_FILE_RECENT_WORKSPACE1 + i, [this, i] { m_pWorkspace->OnRecent(i); });
        MapUpdateCommandUI(ID_FILE_RECENT_WORKSPACE1 + i, [this, i](CCmdUI* pCmdUI) {
            const QStringList recent = m_pWorkspace->GetRecent();
            // Only the first shows while the list is empty, greyed.
            pCmdUI->Show(i < UINT(recent.size()) || i == 0);
            pCmdUI->Enable(i < UINT(recent.size()));
            pCmdUI->SetText(i < UINT(recent.size())
                                ? "&" + std::to_string(i + 1) + " " + recent[int(i)].toStdString()
                                : CString("Recent Workspace"));
        });
    }
}

CMainFrame::~CMainFrame() {
    theConnections.SetChangeHandler(nullptr);
}

CString CMainFrame::GetEmptyAreaText() const {
    if (theConnections.IsEmpty()) {
        return "No connections yet: " + MenuPath(ID_OPTIONS_CONNECTIONS) + " adds one.";
    }
    return MenuPath(ID_FILE_NEW) + " opens a test window.";
}

CTrafficWnd* CMainFrame::GetTrafficWnd() const {
    return static_cast<CTrafficWnd*>(m_pTraffic.data());
}

void CMainFrame::OnViewTraffic() {
    if (m_pTraffic == nullptr) {
        // An exchange is shown under the name of the connection whose master
        // made it; a master no longer in the list, under its own address.
        m_pTraffic = new CTrafficWnd(
            Traffic::Ring(),
            [](const CTrafficExchange& e) {
                std::string strFound = e.strTransport;
                theConnections.ForEach([&](const CString& strName, CConnection* pConnection) {
                    if (pConnection->m_pModbus == e.pSource) {
                        strFound = strName;
                    }
                });
                return strFound;
            },
            this);
    }
    m_pTraffic->show();
    m_pTraffic->raise();
    m_pTraffic->activateWindow();
}

CToolWnd* CMainFrame::GetToolWnd(UINT nID) const {
    const UINT nIndex = nID - ID_TOOLS_SCAN_UNITS;
    return nIndex < std::size(m_tools) ? static_cast<CToolWnd*>(m_tools[nIndex].data()) : nullptr;
}

bool CMainFrame::IsToolRunning() const {
    for (const QPointer<QWidget>& pTool : m_tools) {
        if (pTool != nullptr && static_cast<CToolWnd*>(pTool.data())->IsRunning()) {
            return true;
        }
    }
    return false;
}

void CMainFrame::OnTool(UINT nID) {
    QPointer<QWidget>& pTool = m_tools[nID - ID_TOOLS_SCAN_UNITS];
    if (pTool == nullptr) {
        if (nID == ID_TOOLS_SCAN_UNITS) {
            pTool = new CScanUnitsWnd(this);
        } else if (nID == ID_TOOLS_SCAN_ADDRESSES) {
            pTool = new CScanAddressesWnd(this);
        } else {
            pTool = new CSendRequestWnd(this);
        }
    } else if (!static_cast<CToolWnd*>(pTool.data())->IsRunning()) {
        // Connections may have come or gone since it was last shown.
        static_cast<CToolWnd*>(pTool.data())->FillConnections();
    }
    pTool->show();
    pTool->raise();
    pTool->activateWindow();
}

void CMainFrame::SetConnectionsDialog(PFN_CONNECTIONS_DLG pfnRun) {
    ConnectionsDialog() = std::move(pfnRun);
}

BOOL CMainFrame::PreCreateWindow(CREATESTRUCT& cs) {
    return CMDIFrameWnd::PreCreateWindow(cs);
}

LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER) {
        return OnTrayNotification(wParam, lParam);
    }
    return CMDIFrameWnd::WindowProc(message, wParam, lParam);
}

int CMainFrame::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    if (CMDIFrameWnd::OnCreate(lpCreateStruct) == -1) {
        return -1;
    }
    if (!m_wndToolBar.Create(this, WS_CHILD | WS_VISIBLE | CBRS_TOP, AFX_IDW_TOOLBAR) ||
        !m_wndToolBar.LoadToolBar(IDR_MAINFRAME)) {
        return -1;
    }
    if (!m_wndStatusBar.Create(this, WS_CHILD | WS_VISIBLE | CBRS_BOTTOM, AFX_IDW_STATUS_BAR) ||
        !m_wndStatusBar.SetIndicators(indicators, sizeof indicators / sizeof indicators[0])) {
        return -1;
    }
    m_wndToolBar.SetBarStyle(m_wndToolBar.GetBarStyle() | CBRS_TOOLTIPS | CBRS_FLYBY |
                             CBRS_SIZE_DYNAMIC);
    m_wndToolBar.EnableDocking(CBRS_ALIGN_ANY);
    EnableDocking(CBRS_ALIGN_ANY);
    DockControlBar(&m_wndToolBar);

    m_pWorkspace = new CWorkspaceSession(*this);

    CSplashWnd::ShowSplashScreen(this);

    m_trayIcon.SetNotificationWnd(this, WM_USER);
    m_trayIcon.SetIcon(0U);

    // Painted again once the change is complete, whatever thread made it.
    QPointer<CMainFrame> pThis(this);
    theConnections.SetChangeHandler([pThis] {
        if (QCoreApplication::instance() == nullptr) {
            return;  // records going at the program's end
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [pThis] {
                if (pThis != nullptr) {
                    pThis->UpdateEmptyArea();
                }
            },
            Qt::QueuedConnection);
    });
    return 0;
}

LRESULT CMainFrame::OnTrayNotification(WPARAM wParam, LPARAM lParam) {
    return m_trayIcon.OnTrayNotification(wParam, lParam);
}

void CMainFrame::OnSize(UINT nType, int cx, int cy) {
    CMDIFrameWnd::OnSize(nType, cx, cy);
    if (nType == SIZE_MINIMIZED) {
        // Hidden only when the icon is there to bring the window back: a
        // desktop without a notification area keeps it in the task bar.
        if (m_trayIcon.SetIcon(IDR_TRAYICON)) {
            ShowWindow(SW_HIDE);
        }
    } else {
        m_trayIcon.SetIcon(0U);
    }
}

void CMainFrame::OnShowWindow(BOOL bShow, UINT nStatus) {
    CMDIFrameWnd::OnShowWindow(bShow, nStatus);
}

void CMainFrame::OnClose() {
    if (CRegprobeDoc::IsAnyWaiting()) {
        // A test window is waiting for its worker to end; leave after it.
        QTimer::singleShot(50, this, [this] { OnClose(); });
        return;
    }
    if (m_bConnectionsDlgOpen) {
        m_bCloseAfterDialog = TRUE;
        return;
    }
    if (m_pWorkspace != nullptr && !m_pWorkspace->ConfirmDiscard()) {
        return;
    }
    CMDIFrameWnd::OnClose();
}

void CMainFrame::OnConnections() {
    if (MDIGetActive() != nullptr) {
        ShowWindow(SW_SHOWNORMAL);
        AfxMessageBox("Close All documents before configuring connections", MB_OK);
        return;
    }
    if (IsToolRunning()) {
        // Its run holds a master that the dialog could remove.
        ShowWindow(SW_SHOWNORMAL);
        AfxMessageBox("Cancel the Tools window's run before configuring connections", MB_OK);
        return;
    }
    m_bConnectionsDlgOpen = TRUE;
    if (ConnectionsDialog()) {
        ConnectionsDialog()();
    }
    m_bConnectionsDlgOpen = FALSE;
    if (m_bCloseAfterDialog) {
        m_bCloseAfterDialog = FALSE;
        OnClose();
    }
}

void CMainFrame::OnPollDevice() {
    ShowWindow(SW_SHOWNORMAL);
}

void CMainFrame::OnTrayConnections() {
    if (m_bConnectionsDlgOpen) {
        return;
    }
    OnConnections();
}

void CMainFrame::OnRegisterTypeLibrary() {
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                    "Library Files (*.tlb)|*.tlb|All Files (*.*)|*.*||", this);
    if (dlg.DoModal() != IDOK) {
        return;
    }
    if (RegisterTypeLibrary(dlg.GetPathName().c_str())) {
        AfxMessageBox("Library registred", MB_OK);
    } else {
        AfxMessageBox("Library registred failed", MB_OK);
    }
}

BOOL CMainFrame::RegisterTypeLibrary(const char* pszPath) {
    std::u16string strWide = MultiByteToWide(pszPath);
    if (strWide.size() >= kMaxPath) {
        return FALSE;  // longer than the path buffer
    }
    OLECHAR wszPath[kMaxPath] = {};
    strWide.copy(wszPath, strWide.size());
    CComPtr<ITypeLib> pTypeLib;
    if (FAILED(LoadTypeLib(wszPath, &pTypeLib))) {
        return FALSE;
    }
    return RegisterTypeLib(pTypeLib, wszPath, nullptr) == S_OK;
}
