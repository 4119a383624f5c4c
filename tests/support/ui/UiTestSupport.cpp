#include "tests/support/ui/UiTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "connections/Connections.h"
#include "shell/MainFrm.h"

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeout.count()) {
            return pred();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void Pump(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

void WhenModal(std::function<void(QWidget*)> action) {
    auto* pTimer = new QTimer;
    auto nTicks = std::make_shared<int>(0);
    QObject::connect(pTimer, &QTimer::timeout, [pTimer, nTicks, action] {
        QWidget* pModal = QApplication::activeModalWidget();
        if (pModal != nullptr || ++*nTicks > 250) {
            pTimer->stop();
            pTimer->deleteLater();
            if (pModal != nullptr) {
                QPointer<QWidget> pGuard(pModal);
                action(pModal);
                // A dialog the action failed to close fails the test
                // instead of hanging it.
                QTimer::singleShot(5000, [pGuard] {
                    if (auto* pDialog = qobject_cast<QDialog*>(pGuard.data());
                        pDialog && pDialog->isVisible()) {
                        pDialog->done(-2);
                    }
                });
            }
        }
    });
    pTimer->start(20);
}

CMessageBoxRecorder::CMessageBoxRecorder() {
    m_previous = AfxSetMessageBoxHook([this](const CString& strText, UINT nType) {
        m_boxes.push_back({strText, nType});
        if (m_pfnOnShow) {
            m_pfnOnShow(strText);
        }
        if (!m_answers.empty()) {
            int nAnswer = m_answers.front();
            m_answers.pop_front();
            return nAnswer;
        }
        return IDOK;
    });
}

CMessageBoxRecorder::~CMessageBoxRecorder() {
    AfxSetMessageBoxHook(std::move(m_previous));
}

std::vector<CString> CMessageBoxRecorder::Texts() const {
    std::vector<CString> texts;
    for (const Box& box : m_boxes) {
        texts.push_back(box.strText);
    }
    return texts;
}

CNotifyIconRecorder::CNotifyIconRecorder() {
    m_previous = AfxSetNotifyIconHook([this](DWORD dwMessage, const NOTIFYICONDATA& data) {
        m_calls.push_back({dwMessage, data});
        return m_bResult;
    });
}

CNotifyIconRecorder::~CNotifyIconRecorder() {
    AfxSetNotifyIconHook(std::move(m_previous));
}

CTrackMenuRecorder::CTrackMenuRecorder(UINT nChoose) : m_nChoose(nChoose) {
    m_previous = AfxSetTrackPopupMenuHook([this](HMENU hMenu, POINT) {
        Shown shown;
        for (QAction* pAction : hMenu->actions()) {
            shown.items.push_back(pAction->isSeparator() ? CString()
                                                         : pAction->text().toStdString());
            shown.bold.push_back(pAction->font().bold());
        }
        m_shown.push_back(shown);
        return m_nChoose;
    });
}

CTrackMenuRecorder::~CTrackMenuRecorder() {
    AfxSetTrackPopupMenuHook(std::move(m_previous));
}

CFileDialogAnswer::CFileDialogAnswer(CString strPath) : m_strPath(std::move(strPath)) {
    m_previous =
        AfxSetFileDialogHook([this](const CFileDialog& dlg, CString& rPathName) -> INT_PTR {
            ++m_nShown;
            m_strLastFilter = dlg.GetFilter();
            if (m_strPath.empty()) {
                return IDCANCEL;
            }
            rPathName = m_strPath;
            return IDOK;
        });
}

CFileDialogAnswer::~CFileDialogAnswer() {
    AfxSetFileDialogHook(std::move(m_previous));
}

bool CMessageSink::event(QEvent* pEvent) {
    if (pEvent->type() == CMessageEvent::EventType()) {
        auto* pMessage = static_cast<CMessageEvent*>(pEvent);
        m_received.push_back({pMessage->m_message, pMessage->m_wParam, pMessage->m_lParam});
        return true;
    }
    return QWidget::event(pEvent);
}

namespace {
// The base class copies the arguments as it is constructed; they are built
// before it here.
std::vector<std::string> g_args;
std::vector<char*> g_argv;
int g_argc;

int& PrepareArgs(std::vector<std::string> args) {
    g_args = std::move(args);
    g_args.insert(g_args.begin(), "regprobe");
    g_argv.clear();
    for (std::string& s : g_args) {
        g_argv.push_back(s.data());
    }
    g_argv.push_back(nullptr);
    g_argc = static_cast<int>(g_args.size());
    return g_argc;
}
}  // namespace

CTestApp::CTestApp(std::vector<std::string> args) : CTestApp(PrepareArgs(std::move(args))) {}

CTestApp::CTestApp(int& argc) : CRegprobeApp(argc, g_argv.data()) {}

BOOL CTestApp::IsDcomAvailable() {
    m_steps.push_back("dcom");
    return m_bFailDcom ? FALSE : CRegprobeApp::IsDcomAvailable();
}

BOOL CTestApp::InitializeSockets() {
    m_steps.push_back("sockets");
    return m_bFailSockets ? FALSE : CRegprobeApp::InitializeSockets();
}

BOOL CTestApp::InitializeCom() {
    m_steps.push_back("com");
    return m_bFailCom ? FALSE : CRegprobeApp::InitializeCom();
}

CMainFrame* MainFrame() {
    return dynamic_cast<CMainFrame*>(AfxGetMainWnd());
}

QAction* MenuItem(CMainFrame* pFrame, UINT nID) {
    for (QAction* pPopup : pFrame->menuBar()->actions()) {
        for (QAction* pItem : pPopup->menu()->actions()) {
            if (GetActionCommandId(pItem) == nID) {
                return pItem;
            }
        }
    }
    return nullptr;
}

void CFrameTest::SetUp() {
    ASSERT_TRUE(m_app.InitInstance());
    m_pFrame = MainFrame();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pFrame));
}

void CFrameTest::TearDown() {
    theConnections.RemoveAll();
}
