#include "RegprobeApp.h"

#include <QCoreApplication>

#include "AboutDlg.h"
#include "ChildFrm.h"
#include "MainFrm.h"
#include "Splash.h"
#include "WorkspaceSession.h"
#include "connections/dialogs/ConnectionsDlg.h"
#include "platform/com/ComApi.h"
#include "platform/ui/AfxSock.h"
#include "platform/ui/DocTemplate.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Module.h"
#include "platform/ui/ResourceModule.h"
#include "res/Resource.h"
#include "testview/ui/RegprobeDoc.h"
#include "testview/ui/RegprobeView.h"

IMPLEMENT_DYNAMIC(CRegprobeApp, CWinApp)

CRegprobeApp::CRegprobeApp(int& argc, char** argv) : CWinApp(argc, argv) {
    HINSTANCE hInst = AfxGetResourceHandle();
    if (hInst != nullptr && hInst->m_version) {
        const WORD* v = hInst->m_version->fileVersion;
        QCoreApplication::setApplicationVersion(
            QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]));
    }
    MapCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
    MapCommand(ID_FILE_NEW, [this] { OnFileNew(); });
    MapCommand(ID_FILE_OPEN, [this] { OnFileOpen(); });
}

BOOL CRegprobeApp::InitInstance() {
    if (!IsDcomAvailable()) {
        AfxMessageBox("DCOM OLE Not supported", MB_OK | MB_SYSTEMMODAL);
        return FALSE;
    }
    if (!InitializeSockets()) {
        AfxMessageBox(IDP_SOCKETS_INIT_FAILED);
        return FALSE;
    }
    if (!InitializeCom()) {
        AfxMessageBox(IDP_OLE_INIT_FAILED);
        return FALSE;
    }
    // Three-dimensional controls need no switching on: Qt draws them.

    AddDocTemplate(new CMultiDocTemplate(IDR_REGPROTYPE, &AfxCreateObject<CDocument, CRegprobeDoc>,
                                         &AfxCreateObject<CMDIChildWnd, CChildFrame>,
                                         &AfxCreateObject<CView, CRegprobeView>));

    CCommandLineInfo cmdInfo;
    ParseCommandLine(cmdInfo);
    CSplashWnd::EnableSplashScreen(cmdInfo.m_bShowSplash);

    CMainFrame::SetConnectionsDialog([] {
        CConnectionsDlg dlg;
        dlg.DoModal();
    });
    auto* pMainFrame = new CMainFrame;
    if (!pMainFrame->LoadFrame(IDR_MAINFRAME)) {
        delete pMainFrame;
        return FALSE;
    }
    m_pMainWnd = pMainFrame;

    // Neither a file named on the command line nor a new document is opened.
    cmdInfo.m_nShellCommand = CCommandLineInfo::FileNothing;
    if (!ProcessShellCommand(cmdInfo)) {
        return FALSE;
    }
    pMainFrame->ShowWindow(m_nCmdShow);
    pMainFrame->UpdateWindow();
    OpenStartWorkspace(*pMainFrame);
    return TRUE;
}

void CRegprobeApp::OpenStartWorkspace(CMainFrame& frame) {
    if (CWorkspaceSession* pWorkspace = frame.GetWorkspace()) {
        pWorkspace->OpenFromCommandLine(QCoreApplication::arguments());
    }
}

int CRegprobeApp::ExitInstance() {
    if (m_bComInitialized) {
        CoUninitialize();
        m_bComInitialized = FALSE;
    }
    return CWinApp::ExitInstance();
}

BOOL CRegprobeApp::PreTranslateMessage(MSG* pMsg) {
    if (CSplashWnd::PreTranslateAppMessage(pMsg)) {
        return TRUE;
    }
    return CWinApp::PreTranslateMessage(pMsg);
}

BOOL CRegprobeApp::IsDcomAvailable() {
    HMODULE hOle32 = GetModuleHandleA("ole32.dll");
    return hOle32 != nullptr && GetProcAddress(hOle32, "CoCreateInstanceEx") != nullptr;
}

BOOL CRegprobeApp::InitializeSockets() {
    return AfxSocketInit();
}

BOOL CRegprobeApp::InitializeCom() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return FALSE;
    }
    // Ended in ExitInstance. A multithreaded apartment has no message
    // filter to register.
    m_bComInitialized = TRUE;
    return TRUE;
}

void CRegprobeApp::OnAppAbout() {
    CAboutDlg aboutDlg;
    aboutDlg.DoModal();
}
