#include "Message.h"

#include <QCoreApplication>
#include <QWidget>

CMessageEvent::CMessageEvent(UINT message, WPARAM wParam, LPARAM lParam)
    : QEvent(EventType()), m_message(message), m_wParam(wParam), m_lParam(lParam) {}

QEvent::Type CMessageEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hWnd == nullptr) {
        return 0;
    }
    CMessageEvent event(message, wParam, lParam);
    QCoreApplication::sendEvent(hWnd, &event);
    return event.m_lResult;
}

BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hWnd == nullptr) {
        return FALSE;
    }
    QCoreApplication::postEvent(hWnd, new CMessageEvent(message, wParam, lParam));
    return TRUE;
}
