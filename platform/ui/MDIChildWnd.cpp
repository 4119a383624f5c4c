#include "MDIChildWnd.h"

#include <QCloseEvent>
#include <QIcon>
#include <QMdiArea>

#include "Document.h"
#include "FormView.h"
#include "MDIFrameWnd.h"
#include "ResourceModule.h"
#include "View.h"

IMPLEMENT_DYNAMIC(CMDIChildWnd, CCmdTarget)

CMDIChildWnd::CMDIChildWnd() {
    setAttribute(Qt::WA_DeleteOnClose, false);
}

CMDIChildWnd::~CMDIChildWnd() = default;

BOOL CMDIChildWnd::LoadFrame(UINT nIDResource, DWORD dwDefaultStyle, CMDIFrameWnd* pParentWnd,
                             CCreateContext* pContext) {
    if (pParentWnd == nullptr || pContext == nullptr) {
        return FALSE;
    }
    CREATESTRUCT cs{dwDefaultStyle, 0, 0, 0, 0, CString()};
    if (!PreCreateWindow(cs)) {
        return FALSE;
    }
    m_pMDIFrame = pParentWnd;
    m_hMenuShared =
        pContext->m_pNewDocTemplate ? pContext->m_pNewDocTemplate->GetSharedMenu() : nullptr;
    if (HICON hIcon = LoadIcon(AfxGetResourceHandle(), nIDResource)) {
        setWindowIcon(*hIcon);
    }
    if (!OnCreateClient(pContext)) {
        return FALSE;
    }
    hide();
    pParentWnd->GetMDIClient()->addSubWindow(this);
    // Maximised or restored, by the user, by Tile or Cascade: the frame's
    // title follows.
    connect(this, &QMdiSubWindow::windowStateChanged, pParentWnd,
            [pParentWnd] { pParentWnd->OnUpdateFrameTitle(TRUE); });
    return TRUE;
}

BOOL CMDIChildWnd::PreCreateWindow(CREATESTRUCT&) {
    return TRUE;
}

BOOL CMDIChildWnd::OnCreateClient(CCreateContext* pContext) {
    if (pContext->m_pfnCreateView == nullptr) {
        return FALSE;
    }
    CView* pView = pContext->m_pfnCreateView();
    if (pView == nullptr) {
        return FALSE;
    }
    setWidget(pView);
    m_pActiveView = pView;
    if (pContext->m_pCurrentDoc != nullptr) {
        pContext->m_pCurrentDoc->AddView(pView);
    }
    return TRUE;
}

CDocument* CMDIChildWnd::GetActiveDocument() const {
    return m_pActiveView ? m_pActiveView->GetDocument() : nullptr;
}

void CMDIChildWnd::InitialUpdateFrame(CDocument* pDoc, BOOL bMakeVisible) {
    if (m_pActiveView != nullptr) {
        m_pActiveView->OnInitialUpdate();
    }
    if (pDoc != nullptr) {
        pDoc->UpdateFrameCounts();
    }
    OnUpdateFrameTitle(TRUE);
    if (!bMakeVisible) {
        return;
    }
    // Big enough for the view's form, as far as the MDI area allows.
    QMdiArea* pArea = m_pMDIFrame->GetMDIClient();
    QSize wanted = m_pActiveView ? m_pActiveView->sizeHint() : QSize();
    if (wanted.isValid()) {
        QSize frame = sizeHint() - (widget() ? widget()->sizeHint() : QSize());
        resize((wanted + frame).boundedTo(pArea->viewport()->size()));
    }
    show();
    pArea->setActiveSubWindow(this);
    if (m_pActiveView != nullptr) {
        m_pActiveView->setFocus();
    }
}

void CMDIChildWnd::OnUpdateFrameTitle(BOOL bAddToTitle) {
    CDocument* pDoc = GetActiveDocument();
    if (!bAddToTitle || pDoc == nullptr) {
        return;
    }
    CString strTitle = pDoc->GetTitle();
    if (m_nWindow > 0) {
        strTitle += ":" + std::to_string(m_nWindow);
    }
    setWindowTitle(QString::fromStdString(strTitle));
    if (m_pMDIFrame != nullptr) {
        m_pMDIFrame->OnUpdateFrameTitle(TRUE);
    }
}

void CMDIChildWnd::DestroyWindow() {
    if (m_bDestroying) {
        return;
    }
    m_bDestroying = TRUE;
    hide();
    if (CView* pView = m_pActiveView) {
        pView->OnDestroy();
        if (CDocument* pDoc = pView->GetDocument()) {
            pDoc->RemoveView(pView);
        }
    }
    m_pActiveView = nullptr;
    if (m_pMDIFrame != nullptr) {
        m_pMDIFrame->GetMDIClient()->removeSubWindow(this);
        m_pMDIFrame->OnChildDestroyed(this);
    }
    deleteLater();
}

BOOL CMDIChildWnd::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) {
    if (m_pActiveView != nullptr && m_pActiveView->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo)) {
        return TRUE;
    }
    return CCmdTarget::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

void CMDIChildWnd::OnClose() {
    CDocument* pDocument = GetActiveDocument();
    if (pDocument != nullptr && !pDocument->CanCloseFrame(this)) {
        return;
    }
    if (pDocument != nullptr && pDocument->m_bAutoDelete) {
        bool bOtherFrame = false;
        for (CView* pView : pDocument->GetViews()) {
            if (pView->GetParentFrame() != this) {
                bOtherFrame = true;
                break;
            }
        }
        if (!bOtherFrame) {
            // The last window of the document closes the document.
            pDocument->OnCloseDocument();
            return;
        }
        pDocument->PreCloseFrame(this);
    }
    DestroyWindow();
}

void CMDIChildWnd::closeEvent(QCloseEvent* pEvent) {
    // Destruction is ours to do (DestroyWindow), not Qt's.
    pEvent->ignore();
    if (!m_bDestroying) {
        OnClose();
    }
}
