// Data exchange between a dialog's controls and its members: towards the
// controls when m_bSaveAndValidate is FALSE, from them when TRUE.
#pragma once

#include "DialogBuilder.h"

class CDataExchange {
public:
    CDataExchange(QWidget* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate;
    QWidget* m_pDlgWnd;
};

// Binds rControl to the control with id nIDC; null when there is none of
// that kind.
template <typename T>
void DDX_Control(CDataExchange* pDX, int nIDC, T*& rControl) {
    rControl = qobject_cast<T*>(GetDlgItem(pDX->m_pDlgWnd, nIDC));
}

// A check box's state: 0 unchecked, 1 checked, 2 indeterminate.
void DDX_Check(CDataExchange* pDX, int nIDC, BOOL& value);
// An edit's or static's text.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
