// What a connection dialog shows while it waits for a connection made off the
// GUI thread: "Connecting to <place>…" over a busy bar. Both are hidden until
// shown; the dialog grows to hold them and shrinks back when they go.
#pragma once

#include <QRect>
#include <QSize>

#include "platform/WinTypes.h"

class CDialog;
class QLabel;
class QProgressBar;

class CConnectingIndicator {
public:
    CConnectingIndicator() = default;
    CConnectingIndicator(const CConnectingIndicator&) = delete;
    CConnectingIndicator& operator=(const CConnectingIndicator&) = delete;

    // Creates the label and the bar on the dialog at the rectangles given in
    // pixels; the dialog's present size is its size when idle.
    void Create(CDialog* pDlg, const QRect& rcLabel, const QRect& rcBar);
    void Show(const CString& strPlace);
    void Hide();

private:
    CDialog* m_pDlg = nullptr;
    QLabel* m_pLabel = nullptr;
    QProgressBar* m_pBar = nullptr;
    QSize m_sizeIdle;
};
