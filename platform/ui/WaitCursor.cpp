#include "WaitCursor.h"

#include <QCursor>
#include <QGuiApplication>

CWaitCursor::CWaitCursor() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

CWaitCursor::~CWaitCursor() {
    QGuiApplication::restoreOverrideCursor();
}

void CWaitCursor::Restore() {
    QGuiApplication::changeOverrideCursor(Qt::WaitCursor);
}
