// The multiple-document template: one resource id names the document
// strings, the child frames' menu and icon; three factories make the
// document, its frame and its view.
#pragma once

#include <vector>

#include "CmdTarget.h"

class CDocument;
class CMDIChildWnd;
class CView;

struct CCreateContext {
    CView* (*m_pfnCreateView)();
    CDocument* m_pCurrentDoc;
    class CMultiDocTemplate* m_pNewDocTemplate;
};

class CMultiDocTemplate : public CCmdTarget {
    DECLARE_DYNAMIC(CMultiDocTemplate)

public:
    using PFN_CREATE_DOC = CDocument* (*)();
    using PFN_CREATE_FRAME = CMDIChildWnd* (*)();
    using PFN_CREATE_VIEW = CView* (*)();

    enum DocStringIndex {
        windowTitle,
        docName,
        fileNewName,
        filterName,
        filterExt,
        regFileTypeId,
        regFileTypeName
    };

    CMultiDocTemplate(UINT nIDResource, PFN_CREATE_DOC pfnDoc, PFN_CREATE_FRAME pfnFrame,
                      PFN_CREATE_VIEW pfnView);
    ~CMultiDocTemplate() override;

    UINT GetResourceId() const { return m_nIDResource; }
    // Field nIndex of the document string; FALSE when it is empty.
    BOOL GetDocString(CString& rString, DocStringIndex nIndex) const;
    // The file dialogs' filter: the template's type, then all files.
    CString GetFileFilter() const;
    // The document windows' menu, loaded when the first one needs it.
    HMENU GetSharedMenu() const;

    // With no path: a new document (OnNewDocument); with a path: the file
    // read into a new document. The frame opens only when that succeeds.
    virtual CDocument* OpenDocumentFile(const char* lpszPathName, BOOL bMakeVisible = TRUE);
    CDocument* CreateNewDocument();
    // A new hidden frame holding a new view of pDoc.
    CMDIChildWnd* CreateNewFrame(CDocument* pDoc, CMDIChildWnd* pOther);
    void InitialUpdateFrame(CMDIChildWnd* pFrame, CDocument* pDoc, BOOL bMakeVisible = TRUE);
    void SetDefaultTitle(CDocument* pDocument);

    void AddDocument(CDocument* pDoc);
    void RemoveDocument(CDocument* pDoc);
    const std::vector<CDocument*>& GetDocuments() const { return m_docList; }
    void CloseAllDocuments(BOOL bEndSession);
    BOOL SaveAllModified();

private:
    UINT m_nIDResource;
    PFN_CREATE_DOC m_pfnCreateDoc;
    PFN_CREATE_FRAME m_pfnCreateFrame;
    PFN_CREATE_VIEW m_pfnCreateView;
    CString m_strDocStrings;
    mutable HMENU m_hMenuShared = nullptr;
    std::vector<CDocument*> m_docList;
    UINT m_nUntitledCount = 0;
};

// The factory a template calls for class T, returning its base Base.
template <typename Base, typename T>
Base* AfxCreateObject() {
    return new T;
}
