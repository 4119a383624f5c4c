#include "Document.h"

#include <algorithm>

#include "AfxRes.h"
#include "DocTemplate.h"
#include "FileDialog.h"
#include "MDIChildWnd.h"
#include "MessageBox.h"
#include "ResourceModule.h"
#include "View.h"
#include "WaitCursor.h"
#include "platform/Archive.h"

IMPLEMENT_DYNAMIC(CDocument, CCmdTarget)

namespace {
// "%1" in the framework's prompt becomes the document's name.
CString FormatPrompt(UINT nIDPrompt, const CString& strName) {
    CString str = AfxLoadString(nIDPrompt);
    size_t nPos = str.find("%1");
    if (nPos != CString::npos) {
        str.replace(nPos, 2, strName);
    }
    return str;
}
}  // namespace

CDocument::CDocument() {
    MapCommand(ID_FILE_CLOSE, [this] { OnFileClose(); });
    MapCommand(ID_FILE_SAVE, [this] { OnFileSave(); });
}

CDocument::~CDocument() {
    for (CView* pView : m_viewList) {
        pView->m_pDocument = nullptr;
    }
    if (m_pDocTemplate != nullptr) {
        m_pDocTemplate->RemoveDocument(this);
    }
}

void CDocument::SetTitle(const CString& strTitle) {
    m_strTitle = strTitle;
    UpdateFrameCounts();
}

void CDocument::SetPathName(const CString& strPathName) {
    m_strPathName = strPathName;
    size_t nSlash = strPathName.find_last_of('/');
    SetTitle(nSlash == CString::npos ? strPathName : strPathName.substr(nSlash + 1));
}

void CDocument::AddView(CView* pView) {
    if (std::find(m_viewList.begin(), m_viewList.end(), pView) != m_viewList.end()) {
        return;
    }
    m_viewList.push_back(pView);
    pView->m_pDocument = this;
    OnChangedViewList();
}

void CDocument::RemoveView(CView* pView) {
    auto it = std::find(m_viewList.begin(), m_viewList.end(), pView);
    if (it == m_viewList.end()) {
        return;
    }
    m_viewList.erase(it);
    pView->m_pDocument = nullptr;
    OnChangedViewList();
}

void CDocument::UpdateAllViews(CView* pSender, LPARAM lHint) {
    for (CView* pView : m_viewList) {
        if (pView != pSender) {
            pView->OnUpdate(pSender, lHint, nullptr);
        }
    }
}

void CDocument::UpdateFrameCounts() {
    std::vector<CMDIChildWnd*> frames;
    for (CView* pView : m_viewList) {
        CMDIChildWnd* pFrame = pView->GetParentFrame();
        if (pFrame != nullptr && std::find(frames.begin(), frames.end(), pFrame) == frames.end()) {
            frames.push_back(pFrame);
        }
    }
    int nWindow = frames.size() > 1 ? 1 : 0;
    for (CMDIChildWnd* pFrame : frames) {
        pFrame->m_nWindow = nWindow ? nWindow++ : 0;
        pFrame->OnUpdateFrameTitle(TRUE);
    }
}

BOOL CDocument::OnNewDocument() {
    DeleteContents();
    m_strPathName.clear();
    SetModifiedFlag(FALSE);
    return TRUE;
}

BOOL CDocument::OnOpenDocument(const char* lpszPathName) {
    CFile file;
    if (!file.Open(lpszPathName, CFile::modeRead)) {
        AfxMessageBox(AFX_IDP_FAILED_TO_OPEN_DOC);
        return FALSE;
    }
    DeleteContents();
    SetModifiedFlag();  // dirty while reading
    try {
        CWaitCursor wait;
        CArchive ar(&file, CArchive::load);
        Serialize(ar);
        ar.Close();
    } catch (CException* e) {
        e->Delete();
        DeleteContents();
        AfxMessageBox(AFX_IDP_FAILED_TO_OPEN_DOC);
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    return TRUE;
}

BOOL CDocument::OnSaveDocument(const char* lpszPathName) {
    CFile file;
    if (!file.Open(lpszPathName, CFile::modeCreate | CFile::modeWrite)) {
        AfxMessageBox(AFX_IDP_FAILED_TO_SAVE_DOC);
        return FALSE;
    }
    try {
        CWaitCursor wait;
        CArchive ar(&file, CArchive::store);
        Serialize(ar);
        ar.Close();
        file.Close();
    } catch (CException* e) {
        e->Delete();
        AfxMessageBox(AFX_IDP_FAILED_TO_SAVE_DOC);
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    return TRUE;
}

void CDocument::OnCloseDocument() {
    // The last frame's destruction must not delete us half-way.
    BOOL bAutoDelete = m_bAutoDelete;
    m_bAutoDelete = FALSE;
    while (!m_viewList.empty()) {
        CView* pView = m_viewList.front();
        CMDIChildWnd* pFrame = pView->GetParentFrame();
        if (pFrame != nullptr) {
            PreCloseFrame(pFrame);
            pFrame->DestroyWindow();
        }
        RemoveView(pView);  // a view without a frame
    }
    m_bAutoDelete = bAutoDelete;
    DeleteContents();
    if (m_bAutoDelete) {
        delete this;
    }
}

void CDocument::DeleteContents() {}

BOOL CDocument::SaveModified() {
    if (!IsModified()) {
        return TRUE;
    }
    CString strName = m_strPathName.empty() ? m_strTitle : m_strPathName;
    switch (AfxMessageBox(FormatPrompt(AFX_IDP_ASK_TO_SAVE, strName), MB_YESNOCANCEL)) {
        case IDCANCEL:
            return FALSE;
        case IDYES:
            return DoSave(m_strPathName.empty() ? nullptr : m_strPathName.c_str());
        default:
            return TRUE;
    }
}

BOOL CDocument::CanCloseFrame(CMDIChildWnd* pFrame) {
    for (CView* pView : m_viewList) {
        if (pView->GetParentFrame() != pFrame) {
            return TRUE;  // another frame still shows the document
        }
    }
    return SaveModified();
}

void CDocument::PreCloseFrame(CMDIChildWnd*) {}

void CDocument::OnChangedViewList() {
    if (m_viewList.empty() && m_bAutoDelete) {
        OnCloseDocument();
        return;
    }
    UpdateFrameCounts();
}

BOOL CDocument::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) {
    if (CCmdTarget::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo)) {
        return TRUE;
    }
    return m_pDocTemplate != nullptr && m_pDocTemplate->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

void CDocument::OnFileClose() {
    if (!SaveModified()) {
        return;
    }
    OnCloseDocument();
}

void CDocument::OnFileSave() {
    DoSave(m_strPathName.empty() ? nullptr : m_strPathName.c_str());
}

BOOL CDocument::DoSave(const char* lpszPathName) {
    CString strPath;
    if (lpszPathName == nullptr) {
        CString strFilter;
        if (m_pDocTemplate != nullptr) {
            strFilter = m_pDocTemplate->GetFileFilter();
        }
        CFileDialog dlg(FALSE, nullptr, m_strTitle.c_str(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                        strFilter.c_str(), nullptr);
        if (dlg.DoModal() != IDOK) {
            return FALSE;
        }
        strPath = dlg.GetPathName();
    } else {
        strPath = lpszPathName;
    }
    if (!OnSaveDocument(strPath.c_str())) {
        return FALSE;
    }
    SetPathName(strPath);
    return TRUE;
}
