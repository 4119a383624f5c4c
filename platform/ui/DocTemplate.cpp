#include "DocTemplate.h"

#include <QMenu>
#include <algorithm>

#include "AfxRes.h"
#include "Document.h"
#include "MDIChildWnd.h"
#include "MDIFrameWnd.h"
#include "Menu.h"
#include "MessageBox.h"
#include "View.h"
#include "WaitCursor.h"
#include "WinApp.h"

IMPLEMENT_DYNAMIC(CMultiDocTemplate, CCmdTarget)

CMultiDocTemplate::CMultiDocTemplate(UINT nIDResource, PFN_CREATE_DOC pfnDoc,
                                     PFN_CREATE_FRAME pfnFrame, PFN_CREATE_VIEW pfnView)
    : m_nIDResource(nIDResource),
      m_pfnCreateDoc(pfnDoc),
      m_pfnCreateFrame(pfnFrame),
      m_pfnCreateView(pfnView) {
    AfxLoadString(nIDResource, m_strDocStrings);
}

CMultiDocTemplate::~CMultiDocTemplate() {
    // Documents still open go with their template.
    while (!m_docList.empty()) {
        CDocument* pDoc = m_docList.back();
        pDoc->m_bAutoDelete = TRUE;
        pDoc->OnCloseDocument();
        if (!m_docList.empty() && m_docList.back() == pDoc) {
            m_docList.pop_back();
            pDoc->m_pDocTemplate = nullptr;
        }
    }
    DestroyMenu(m_hMenuShared);
}

HMENU CMultiDocTemplate::GetSharedMenu() const {
    if (m_hMenuShared == nullptr) {
        m_hMenuShared = LoadMenu(AfxGetResourceHandle(), m_nIDResource);
    }
    return m_hMenuShared;
}

BOOL CMultiDocTemplate::GetDocString(CString& rString, DocStringIndex nIndex) const {
    rString.clear();
    size_t nStart = 0;
    for (int i = 0; i < nIndex; ++i) {
        size_t nNewline = m_strDocStrings.find('\n', nStart);
        if (nNewline == CString::npos) {
            return FALSE;
        }
        nStart = nNewline + 1;
    }
    size_t nEnd = m_strDocStrings.find('\n', nStart);
    rString = m_strDocStrings.substr(nStart, nEnd == CString::npos ? CString::npos : nEnd - nStart);
    return !rString.empty();
}

CString CMultiDocTemplate::GetFileFilter() const {
    CString strFilter;
    CString strName;
    CString strExt;
    if (GetDocString(strName, filterName) && GetDocString(strExt, filterExt)) {
        strFilter = strName + "|*" + strExt + "|";
    }
    return strFilter + AfxLoadString(AFX_IDS_ALLFILTER) + "|*.*||";
}

CDocument* CMultiDocTemplate::OpenDocumentFile(const char* lpszPathName, BOOL bMakeVisible) {
    CDocument* pDocument = CreateNewDocument();
    if (pDocument == nullptr) {
        return nullptr;
    }
    // Nothing that fails below may delete the document under us.
    BOOL bAutoDelete = pDocument->m_bAutoDelete;
    pDocument->m_bAutoDelete = FALSE;
    CMDIChildWnd* pFrame = CreateNewFrame(pDocument, nullptr);
    pDocument->m_bAutoDelete = bAutoDelete;
    if (pFrame == nullptr) {
        delete pDocument;
        return nullptr;
    }
    if (lpszPathName == nullptr) {
        SetDefaultTitle(pDocument);
        if (!pDocument->OnNewDocument()) {
            pFrame->DestroyWindow();  // takes the document with its view
            return nullptr;
        }
        ++m_nUntitledCount;
    } else {
        BOOL bOpened;
        {
            CWaitCursor wait;
            bOpened = pDocument->OnOpenDocument(lpszPathName);
        }
        if (!bOpened) {
            pFrame->DestroyWindow();
            return nullptr;
        }
        pDocument->SetPathName(lpszPathName);
    }
    InitialUpdateFrame(pFrame, pDocument, bMakeVisible);
    return pDocument;
}

CDocument* CMultiDocTemplate::CreateNewDocument() {
    CDocument* pDocument = m_pfnCreateDoc ? m_pfnCreateDoc() : nullptr;
    if (pDocument != nullptr) {
        AddDocument(pDocument);
    }
    return pDocument;
}

CMDIChildWnd* CMultiDocTemplate::CreateNewFrame(CDocument* pDoc, CMDIChildWnd*) {
    auto* pMainFrame = dynamic_cast<CMDIFrameWnd*>(AfxGetMainWnd());
    if (pMainFrame == nullptr || m_pfnCreateFrame == nullptr) {
        return nullptr;
    }
    CMDIChildWnd* pFrame = m_pfnCreateFrame();
    CCreateContext context{m_pfnCreateView, pDoc, this};
    if (!pFrame->LoadFrame(m_nIDResource, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE, pMainFrame,
                           &context)) {
        delete pFrame;
        return nullptr;
    }
    return pFrame;
}

void CMultiDocTemplate::InitialUpdateFrame(CMDIChildWnd* pFrame, CDocument* pDoc,
                                           BOOL bMakeVisible) {
    pFrame->InitialUpdateFrame(pDoc, bMakeVisible);
}

void CMultiDocTemplate::SetDefaultTitle(CDocument* pDocument) {
    CString strName;
    if (!GetDocString(strName, docName)) {
        strName = AfxLoadString(AFX_IDS_UNTITLED);
    }
    pDocument->SetTitle(strName + std::to_string(m_nUntitledCount + 1));
}

void CMultiDocTemplate::AddDocument(CDocument* pDoc) {
    m_docList.push_back(pDoc);
    pDoc->m_pDocTemplate = this;
}

void CMultiDocTemplate::RemoveDocument(CDocument* pDoc) {
    auto it = std::find(m_docList.begin(), m_docList.end(), pDoc);
    if (it != m_docList.end()) {
        m_docList.erase(it);
        pDoc->m_pDocTemplate = nullptr;
    }
}

void CMultiDocTemplate::CloseAllDocuments(BOOL) {
    // Closing may remove more than one entry; take them from the copy.
    std::vector<CDocument*> docs = m_docList;
    for (CDocument* pDoc : docs) {
        if (std::find(m_docList.begin(), m_docList.end(), pDoc) != m_docList.end()) {
            pDoc->OnCloseDocument();
        }
    }
}

BOOL CMultiDocTemplate::SaveAllModified() {
    for (CDocument* pDoc : std::vector<CDocument*>(m_docList)) {
        if (!pDoc->SaveModified()) {
            return FALSE;
        }
    }
    return TRUE;
}
