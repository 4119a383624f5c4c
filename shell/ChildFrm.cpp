#include "ChildFrm.h"

IMPLEMENT_DYNAMIC(CChildFrame, CMDIChildWnd)

CChildFrame::CChildFrame() = default;

BOOL CChildFrame::PreCreateWindow(CREATESTRUCT& cs) {
    return CMDIChildWnd::PreCreateWindow(cs);
}
