// The state a command's update handler gives its menu item or button.
#pragma once

#include "CmdTarget.h"

class CCmdUI {
public:
    explicit CCmdUI(UINT nID) : m_nID(nID) {}

    void Enable(BOOL bOn = TRUE) {
        m_bEnabled = bOn;
        m_bEnableChanged = TRUE;
    }
    // 0 unchecked, 1 checked.
    void SetCheck(int nCheck = 1) {
        m_nCheck = nCheck;
        m_bCheckChanged = TRUE;
    }

    // A menu item's text.
    void SetText(const CString& strText) {
        m_strText = strText;
        m_bTextChanged = TRUE;
    }
    // A menu item shown or left out, as the system's recent-file lists grow
    // and shrink.
    void Show(BOOL bShow) {
        m_bVisible = bShow;
        m_bVisibleChanged = TRUE;
    }

    // Asks pTarget's update handler; without one, the item is enabled exactly
    // when some target on the route handles the command.
    BOOL DoUpdate(CCmdTarget* pTarget, BOOL bDisableIfNoHandler);

    UINT m_nID;
    BOOL m_bEnabled = TRUE;
    BOOL m_bEnableChanged = FALSE;
    int m_nCheck = 0;
    BOOL m_bCheckChanged = FALSE;
    CString m_strText;
    BOOL m_bTextChanged = FALSE;
    BOOL m_bVisible = TRUE;
    BOOL m_bVisibleChanged = FALSE;
};
