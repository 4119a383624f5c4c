#include "WinApp.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include "AfxRes.h"
#include "DocTemplate.h"
#include "Document.h"
#include "FileDialog.h"
#include "MDIChildWnd.h"
#include "MDIFrameWnd.h"
#include "Message.h"
#include "ResourceModule.h"
#include "View.h"
#include "VirtualKeys.h"

IMPLEMENT_DYNAMIC(CWinApp, CCmdTarget)

namespace {
CWinApp* g_pApp = nullptr;
bool g_bInRun = false;
}  // namespace

// Turns the input events that reach a window into the messages the system
// we follow would queue, and offers each to PreTranslateMessage once.
// Events are taken where they enter a window (a QWindow), before any widget
// sees them, so each is offered exactly once.
class CMessageFilter : public QObject {
public:
    explicit CMessageFilter(CWinApp* pApp) : m_pApp(pApp) {}

protected:
    bool eventFilter(QObject* pReceiver, QEvent* pEvent) override {
        switch (pEvent->type()) {
            case QEvent::ShortcutOverride:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::NonClientAreaMouseButtonPress:
                break;
            default:
                return false;
        }
        if (!pReceiver->isWindowType()) {
            return false;
        }
        m_pApp->ScheduleIdle();
        if (auto* pKey = dynamic_cast<QKeyEvent*>(pEvent)) {
            return FilterKey(pKey);
        }
        auto* pMouse = static_cast<QMouseEvent*>(pEvent);
        MSG msg{nullptr,
                MouseMessage(pMouse),
                0,
                0,
                static_cast<DWORD>(pMouse->timestamp()),
                POINT{static_cast<LONG>(pMouse->globalPosition().x()),
                      static_cast<LONG>(pMouse->globalPosition().y())}};
        msg.hwnd = QApplication::widgetAt(pMouse->globalPosition().toPoint());
        return msg.message != 0 && m_pApp->PreTranslateMessage(&msg);
    }

private:
    struct KeyStamp {
        int nKey = 0;
        quint64 timestamp = 0;
        bool bSet = false;
        bool Matches(const QKeyEvent* p) const {
            return bSet && nKey == p->key() && timestamp == p->timestamp();
        }
    };

    // A key press first comes as ShortcutOverride. Offering it then lets a
    // used-up key stop an accelerator too; the press that follows is then
    // swallowed, or passed on without being offered twice.
    bool FilterKey(QKeyEvent* pKey) {
        if (pKey->type() == QEvent::KeyRelease) {
            MSG msg = KeyMessage(pKey, FALSE);
            return m_pApp->PreTranslateMessage(&msg);
        }
        if (pKey->type() == QEvent::KeyPress) {
            if (m_swallow.Matches(pKey)) {
                m_swallow.bSet = false;
                return true;
            }
            if (m_offered.Matches(pKey)) {
                m_offered.bSet = false;
                return false;
            }
        }
        MSG msg = KeyMessage(pKey, TRUE);
        BOOL bUsed = m_pApp->PreTranslateMessage(&msg);
        if (pKey->type() == QEvent::ShortcutOverride) {
            KeyStamp& stamp = bUsed ? m_swallow : m_offered;
            stamp = KeyStamp{pKey->key(), pKey->timestamp(), true};
            if (bUsed) {
                pKey->accept();  // no accelerator either
            }
        }
        return bUsed;
    }

    static MSG KeyMessage(const QKeyEvent* pKey, BOOL bDown) {
        bool bSys = (pKey->modifiers() & Qt::AltModifier) || pKey->key() == Qt::Key_F10;
        UINT message =
            bDown ? (bSys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (bSys ? WM_SYSKEYUP : WM_KEYUP);
        return MSG{QApplication::focusWidget(),           message,
                   VirtualKeyFromQtKey(pKey->key()),      0,
                   static_cast<DWORD>(pKey->timestamp()), POINT{0, 0}};
    }

    static UINT MouseMessage(const QMouseEvent* pMouse) {
        Qt::MouseButton button = pMouse->button();
        switch (pMouse->type()) {
            case QEvent::NonClientAreaMouseButtonPress:
                return button == Qt::LeftButton     ? WM_NCLBUTTONDOWN
                       : button == Qt::RightButton  ? WM_NCRBUTTONDOWN
                       : button == Qt::MiddleButton ? WM_NCMBUTTONDOWN
                                                    : 0;
            case QEvent::MouseButtonPress:
                return button == Qt::LeftButton     ? WM_LBUTTONDOWN
                       : button == Qt::RightButton  ? WM_RBUTTONDOWN
                       : button == Qt::MiddleButton ? WM_MBUTTONDOWN
                                                    : 0;
            case QEvent::MouseButtonDblClick:
                return button == Qt::LeftButton    ? WM_LBUTTONDBLCLK
                       : button == Qt::RightButton ? WM_RBUTTONDBLCLK
                                                   : 0;
            default:
                return button == Qt::LeftButton     ? WM_LBUTTONUP
                       : button == Qt::RightButton  ? WM_RBUTTONUP
                       : button == Qt::MiddleButton ? WM_MBUTTONUP
                                                    : 0;
        }
    }

    CWinApp* m_pApp;
    KeyStamp m_swallow;
    KeyStamp m_offered;
};

CWinApp::CWinApp(int& argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        m_args.emplace_back(argv[i]);
    }
    if (QCoreApplication::instance() == nullptr) {
        m_pOwnedApp = std::make_unique<QApplication>(argc, argv);
    }
    if (!AfxLoadString(AFX_IDS_APP_TITLE, m_strAppName) && !m_args.empty()) {
        size_t nSlash = m_args[0].find_last_of('/');
        m_strAppName = nSlash == CString::npos ? m_args[0] : m_args[0].substr(nSlash + 1);
    }
    QCoreApplication::setApplicationName(QString::fromStdString(m_strAppName));
    QGuiApplication::setQuitOnLastWindowClosed(false);
    m_pMessageFilter = std::make_unique<CMessageFilter>(this);
    QCoreApplication::instance()->installEventFilter(m_pMessageFilter.get());
    g_pApp = this;

    MapCommand(ID_APP_EXIT, [this] { OnAppExit(); });
}

CWinApp::~CWinApp() {
    CloseAllDocuments(TRUE);
    if (auto* pFrame = dynamic_cast<CMDIFrameWnd*>(m_pMainWnd)) {
        pFrame->DestroyWindow();
    }
    m_pMainWnd = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_templates.clear();
    QCoreApplication::instance()->removeEventFilter(m_pMessageFilter.get());
    m_pMessageFilter.reset();
    if (g_pApp == this) {
        g_pApp = nullptr;
    }
    m_pOwnedApp.reset();
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::Run() {
    if (m_pMainWnd != nullptr) {
        g_bInRun = true;
        QApplication::exec();
        g_bInRun = false;
    }
    // Windows destroyed during the run go now, before ExitInstance.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ExitInstance();
}

int CWinApp::ExitInstance() {
    return 0;
}

BOOL CWinApp::PreTranslateMessage(MSG*) {
    return FALSE;
}

BOOL CWinApp::OnIdle(LONG) {
    if (auto* pFrame = dynamic_cast<CMDIFrameWnd*>(m_pMainWnd)) {
        pFrame->OnIdleUpdateCmdUI();
    }
    return FALSE;
}

void CWinApp::ScheduleIdle() {
    if (m_bIdleScheduled) {
        return;
    }
    m_bIdleScheduled = true;
    QTimer::singleShot(0, m_pMessageFilter.get(), [this] {
        m_bIdleScheduled = false;
        OnIdle(0);
    });
}

void CWinApp::AddDocTemplate(CMultiDocTemplate* pTemplate) {
    m_templates.emplace_back(pTemplate);
}

CDocument* CWinApp::OpenDocumentFile(const char* lpszFileName) {
    if (m_templates.empty()) {
        return nullptr;
    }
    for (const auto& pTemplate : m_templates) {
        for (CDocument* pDoc : pTemplate->GetDocuments()) {
            if (!pDoc->GetPathName().empty() && pDoc->GetPathName() == lpszFileName) {
                // Already open: bring its window forward.
                if (!pDoc->GetViews().empty()) {
                    if (CMDIChildWnd* pFrame = pDoc->GetViews().front()->GetParentFrame()) {
                        pFrame->mdiArea()->setActiveSubWindow(pFrame);
                    }
                }
                return pDoc;
            }
        }
    }
    return m_templates.front()->OpenDocumentFile(lpszFileName);
}

void CWinApp::ParseCommandLine(CCommandLineInfo& rCmdInfo) {
    for (size_t i = 1; i < m_args.size(); ++i) {
        const char* pszParam = m_args[i].c_str();
        BOOL bFlag = pszParam[0] == '-' || pszParam[0] == '/';
        if (bFlag) {
            ++pszParam;
        }
        rCmdInfo.ParseParam(pszParam, bFlag, i + 1 == m_args.size());
    }
}

BOOL CWinApp::ProcessShellCommand(CCommandLineInfo& rCmdInfo) {
    switch (rCmdInfo.m_nShellCommand) {
        case CCommandLineInfo::FileNothing:
            return TRUE;
        case CCommandLineInfo::FileNew:
            if (!OnCmdMsg(ID_FILE_NEW, CN_COMMAND, nullptr, nullptr)) {
                OnFileNew();
            }
            return m_pMainWnd != nullptr;
        case CCommandLineInfo::FileOpen:
            return OpenDocumentFile(rCmdInfo.m_strFileName.c_str()) != nullptr;
        default:
            // Printing, DDE and registration are not offered here.
            return FALSE;
    }
}

void CWinApp::CloseAllDocuments(BOOL bEndSession) {
    for (const auto& pTemplate : m_templates) {
        pTemplate->CloseAllDocuments(bEndSession);
    }
}

BOOL CWinApp::SaveAllModified() {
    for (const auto& pTemplate : m_templates) {
        if (!pTemplate->SaveAllModified()) {
            return FALSE;
        }
    }
    return TRUE;
}

void CWinApp::HideApplication() {
    if (m_pMainWnd != nullptr) {
        m_pMainWnd->hide();
    }
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return ::LoadIcon(AfxGetResourceHandle(), nIDResource);
}

void CWinApp::OnFileNew() {
    if (!m_templates.empty()) {
        m_templates.front()->OpenDocumentFile(nullptr);
    }
}

void CWinApp::OnFileOpen() {
    CString strFilter =
        m_templates.empty() ? CString("|*.*||") : m_templates.front()->GetFileFilter();
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, strFilter.c_str(),
                    m_pMainWnd);
    if (dlg.DoModal() == IDOK) {
        OpenDocumentFile(dlg.GetPathName().c_str());
    }
}

void CWinApp::OnAppExit() {
    if (m_pMainWnd != nullptr) {
        SendMessage(m_pMainWnd, WM_CLOSE, 0, 0);
    }
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

QWidget* AfxGetMainWnd() {
    return g_pApp ? g_pApp->m_pMainWnd : nullptr;
}

CString AfxGetAppName() {
    return g_pApp ? g_pApp->m_strAppName : AfxLoadString(AFX_IDS_APP_TITLE);
}

void AfxPostQuitMessage(int nExitCode) {
    if (g_bInRun) {
        QCoreApplication::exit(nExitCode);
    }
}

int AfxWinMain(CWinApp& app) {
    if (!app.InitInstance()) {
        if (auto* pFrame = dynamic_cast<CMDIFrameWnd*>(app.m_pMainWnd)) {
            pFrame->DestroyWindow();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return app.ExitInstance();
    }
    return app.Run();
}
