#include "RegprobeDoc.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include "RegprobeView.h"
#include "connections/Connections.h"
#include "platform/ui/MDIChildWnd.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/WaitCursor.h"

IMPLEMENT_DYNAMIC(CRegprobeDoc, CDocument)

namespace {
int g_nWaiting = 0;
// Checks the workers again now and then, should an end notice be lost with
// a view that went meanwhile; the notices themselves end the wait at once.
constexpr int RECHECK_MS = 100;
// A close that came while the document was waiting tries again after this.
constexpr int RETRY_CLOSE_MS = 50;
}  // namespace

CRegprobeDoc::CRegprobeDoc() : m_pContext(std::make_unique<QObject>()) {}

CRegprobeDoc::~CRegprobeDoc() = default;

BOOL CRegprobeDoc::OnNewDocument() {
    if (!CDocument::OnNewDocument()) {
        return FALSE;
    }
    if (theConnections.GetCount() >= 1) {
        return TRUE;
    }
    AfxMessageBox("There are no connections to open new document", MB_OK);
    return FALSE;
}

void CRegprobeDoc::Serialize(CArchive&) {
    // The document keeps nothing; every setting lives in its view.
}

BOOL CRegprobeDoc::IsAnyWaiting() {
    return g_nWaiting > 0;
}

std::vector<CRegprobeView*> CRegprobeDoc::PollViews(CMDIChildWnd* pFrame) const {
    std::vector<CRegprobeView*> views;
    for (CView* pView : m_viewList) {
        auto* pPollView = dynamic_cast<CRegprobeView*>(pView);
        if (pPollView != nullptr && (pFrame == nullptr || pView->GetParentFrame() == pFrame)) {
            views.push_back(pPollView);
        }
    }
    return views;
}

void CRegprobeDoc::StopAndWait(const std::vector<CRegprobeView*>& views) {
    // Every stop first, so that the workers end together.
    for (CRegprobeView* pView : views) {
        pView->RequestStop();
    }
    // The views stay while the wait lasts: none of the document's windows
    // can close meanwhile (CanCloseFrame), nor can the application.
    auto anyPolling = [&views] {
        for (CRegprobeView* pView : views) {
            if (pView->IsPolling()) {
                return true;
            }
        }
        return false;
    };
    if (!anyPolling()) {
        return;
    }
    ++m_nWaiting;
    ++g_nWaiting;
    {
        CWaitCursor wait;
        QEventLoop loop;
        std::vector<QMetaObject::Connection> connections;
        auto check = [&] {
            if (!anyPolling()) {
                loop.quit();
            }
        };
        for (CRegprobeView* pView : views) {
            connections.push_back(
                QObject::connect(pView, &CRegprobeView::WorkerEnded, &loop, check));
        }
        QTimer recheck;
        QObject::connect(&recheck, &QTimer::timeout, &loop, check);
        recheck.start(RECHECK_MS);
        if (anyPolling()) {
            loop.exec();
        }
        for (const auto& connection : connections) {
            QObject::disconnect(connection);
        }
    }
    --g_nWaiting;
    --m_nWaiting;
}

void CRegprobeDoc::OnCloseDocument() {
    if (m_bClosing) {
        return;  // the close in progress ends the document
    }
    if (m_nWaiting > 0) {
        // A window of the document is waiting for its worker: close once
        // that wait is over.
        QTimer::singleShot(RETRY_CLOSE_MS, m_pContext.get(), [this] { OnCloseDocument(); });
        return;
    }
    m_bClosing = TRUE;
    StopAndWait(PollViews(nullptr));
    CDocument::OnCloseDocument();
}

BOOL CRegprobeDoc::CanCloseFrame(CMDIChildWnd* pFrame) {
    if (m_bClosing || m_nWaiting > 0) {
        return FALSE;
    }
    return CDocument::CanCloseFrame(pFrame);
}

void CRegprobeDoc::PreCloseFrame(CMDIChildWnd* pFrame) {
    if (!m_bClosing) {
        StopAndWait(PollViews(pFrame));
    }
    CDocument::PreCloseFrame(pFrame);
}
