// The window around each test document's view.
#pragma once

#include "platform/ui/MDIChildWnd.h"

class CChildFrame : public CMDIChildWnd {
    Q_OBJECT
    DECLARE_DYNAMIC(CChildFrame)

public:
    CChildFrame();

protected:
    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
};
