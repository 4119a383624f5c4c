// The status bar: a message pane that shows the idle text or the prompt of
// the command under the pointer, then one pane per indicator, whose text
// shows only while its key is on.
#pragma once

#include <QStatusBar>
#include <vector>

#include "WinUser.h"

class QLabel;
class QMainWindow;

class CStatusBar : public QStatusBar {
    Q_OBJECT

public:
    CStatusBar();

    BOOL Create(QMainWindow* pParentWnd, DWORD dwStyle, UINT nID);
    // ID_SEPARATOR is the message pane; every other id names a string, the
    // indicator's text. FALSE when a string is missing.
    BOOL SetIndicators(const UINT* lpIDArray, int nIDCount);
    int GetCount() const { return static_cast<int>(m_panes.size()); }
    UINT GetItemID(int nIndex) const;
    // The text of pane nIndex as drawn (empty while an indicator is off).
    CString GetPaneText(int nIndex) const;
    BOOL SetPaneText(int nIndex, const CString& strText);
    // Shows the indicator's text, or hides it.
    void EnablePane(int nIndex, BOOL bEnable);
    // The message pane's text: what is shown now (a prompt or the idle
    // text).
    CString GetMessageText() const;
    void SetMessageText(const CString& strText);

private:
    struct Pane {
        UINT nID;
        QLabel* pLabel;
        CString strText;
        BOOL bEnabled;
    };
    std::vector<Pane> m_panes;
};
