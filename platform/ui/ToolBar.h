// The tool bar: buttons cut from one bitmap, each sending its command id.
// Tool tips are the part of the command's string after the line break, the
// status-bar prompt the part before it. Light grey in the bitmap is the
// button face and shows through. A button sends WM_COMMAND to its window.
#pragma once

#include <QToolBar>

#include "WinUser.h"

class QMainWindow;

class CToolBar : public QToolBar {
    Q_OBJECT

public:
    CToolBar();

    BOOL Create(QMainWindow* pParentWnd, DWORD dwStyle, UINT nID);
    // FALSE when the tool bar or its bitmap is missing, or the bitmap is too
    // small for the buttons.
    BOOL LoadToolBar(UINT nIDResource);
    DWORD GetBarStyle() const { return m_dwStyle; }
    void SetBarStyle(DWORD dwStyle);
    void EnableDocking(DWORD dwDockStyle);
    // The action of the button with that command id, or null.
    QAction* GetButton(UINT nID) const;

private:
    DWORD m_dwStyle = 0;
};
