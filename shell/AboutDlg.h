// The About box, dialog 100; OK, Enter or Esc closes it.
#pragma once

#include "platform/ui/Dialog.h"

class CAboutDlg : public CDialog {
    Q_OBJECT

public:
    CAboutDlg();
};
