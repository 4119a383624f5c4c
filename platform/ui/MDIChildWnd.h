// A document window inside the main frame's MDI area. While it is active
// the main frame shows its template's menu; its title is the document's,
// numbered when the document has several windows.
#pragma once

#include <QMdiSubWindow>

#include "CmdTarget.h"
#include "DocTemplate.h"

class CMDIFrameWnd;
class CView;
class CDocument;

class CMDIChildWnd : public QMdiSubWindow, public CCmdTarget {
    Q_OBJECT
    DECLARE_DYNAMIC(CMDIChildWnd)

public:
    CMDIChildWnd();
    ~CMDIChildWnd() override;

    // Creates the view from the context and adds the frame, hidden, to the
    // main frame's MDI area.
    BOOL LoadFrame(UINT nIDResource, DWORD dwDefaultStyle, CMDIFrameWnd* pParentWnd,
                   CCreateContext* pContext);
    CView* GetActiveView() const { return m_pActiveView; }
    CDocument* GetActiveDocument() const;
    CMDIFrameWnd* GetMDIFrame() const { return m_pMDIFrame; }
    HMENU GetSharedMenu() const { return m_hMenuShared; }

    // OnInitialUpdate for the views, then shows and activates the frame.
    void InitialUpdateFrame(CDocument* pDoc, BOOL bMakeVisible);
    virtual void OnUpdateFrameTitle(BOOL bAddToTitle);
    // The views leave their document at once; the widgets go later.
    void DestroyWindow();
    BOOL IsDestroying() const { return m_bDestroying; }

    // The active view first, then the frame's own map.
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;

    int m_nWindow = 0;  // 0 when the document has one window

protected:
    virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
    virtual BOOL OnCreateClient(CCreateContext* pContext);
    virtual void OnClose();
    void closeEvent(QCloseEvent* pEvent) override;

private:
    CMDIFrameWnd* m_pMDIFrame = nullptr;
    CView* m_pActiveView = nullptr;
    HMENU m_hMenuShared = nullptr;
    BOOL m_bDestroying = FALSE;
};
