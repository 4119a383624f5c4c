// A view: the widget inside a child frame that shows a document.
#pragma once

#include <QWidget>

#include "CmdTarget.h"

class CDocument;
class CMDIChildWnd;

class CView : public QWidget, public CCmdTarget {
    Q_OBJECT
    DECLARE_DYNAMIC(CView)

public:
    CView();
    // Leaves its document, if it still has one.
    ~CView() override;

    CDocument* GetDocument() const { return m_pDocument; }
    CMDIChildWnd* GetParentFrame() const;

    // Once, after the frame and document are complete and before it shows.
    virtual void OnInitialUpdate();
    virtual void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint);
    // While its frame is being destroyed, before the view leaves its
    // document; the widget itself goes later.
    virtual void OnDestroy();

    // The view's own map, then its document's.
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;

protected:
    CDocument* m_pDocument = nullptr;

    friend class CDocument;
};
