// Window messages between our own windows: a message is a Qt event that the
// receiving window's event() turns into its handler call.
#pragma once

#include <QEvent>

#include "WinUser.h"

class CMessageEvent : public QEvent {
public:
    CMessageEvent(UINT message, WPARAM wParam, LPARAM lParam);

    static QEvent::Type EventType();

    UINT m_message;
    WPARAM m_wParam;
    LPARAM m_lParam;
    LRESULT m_lResult = 0;
};

// Delivers the message at once and returns the handler's result (0 when the
// window does not handle it).
LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Queues the message for the window; FALSE without a window.
BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
