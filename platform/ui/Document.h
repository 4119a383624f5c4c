// A document: its title and path, its views, the commands that act on the
// whole document (close, save), and the steps of its life the template and
// the frames call.
#pragma once

#include <vector>

#include "CmdTarget.h"

class CView;
class CMDIChildWnd;
class CMultiDocTemplate;

class CDocument : public CCmdTarget {
    DECLARE_DYNAMIC(CDocument)

public:
    CDocument();
    ~CDocument() override;

    const CString& GetTitle() const { return m_strTitle; }
    virtual void SetTitle(const CString& strTitle);
    const CString& GetPathName() const { return m_strPathName; }
    // Also makes the file's name the title.
    virtual void SetPathName(const CString& strPathName);
    CMultiDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

    BOOL IsModified() const { return m_bModified; }
    void SetModifiedFlag(BOOL bModified = TRUE) { m_bModified = bModified; }

    void AddView(CView* pView);
    void RemoveView(CView* pView);
    const std::vector<CView*>& GetViews() const { return m_viewList; }
    void UpdateAllViews(CView* pSender, LPARAM lHint = 0);
    // Numbers the frames (":1", ":2") when there is more than one, and
    // retitles them.
    void UpdateFrameCounts();

    virtual BOOL OnNewDocument();
    virtual BOOL OnOpenDocument(const char* lpszPathName);
    virtual BOOL OnSaveDocument(const char* lpszPathName);
    // Destroys every frame showing the document, then the document itself
    // when it deletes itself (m_bAutoDelete).
    virtual void OnCloseDocument();
    virtual void DeleteContents();
    // Asks to save a modified document; FALSE when the user cancels.
    virtual BOOL SaveModified();
    virtual BOOL CanCloseFrame(CMDIChildWnd* pFrame);
    virtual void PreCloseFrame(CMDIChildWnd* pFrame);
    // The last view gone closes an auto-deleting document.
    virtual void OnChangedViewList();

    // The document's own map, then its template's.
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;

    BOOL m_bAutoDelete = TRUE;

protected:
    void OnFileClose();
    void OnFileSave();
    // Prompts for a name when lpszPathName is null.
    BOOL DoSave(const char* lpszPathName);

    CString m_strTitle;
    CString m_strPathName;
    CMultiDocTemplate* m_pDocTemplate = nullptr;
    std::vector<CView*> m_viewList;
    BOOL m_bModified = FALSE;

    friend class CMultiDocTemplate;
};
