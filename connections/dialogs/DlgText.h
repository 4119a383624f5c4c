// Text helpers the connection dialogs share.
#pragma once

#include <QLineEdit>

#include "platform/Text.h"
#include "platform/WinTypes.h"

inline CString GetWindowText(const QLineEdit* pEdit) {
    return pEdit != nullptr ? pEdit->text().toStdString() : CString();
}

inline void SetWindowText(QLineEdit* pEdit, const CString& str) {
    if (pEdit != nullptr) {
        pEdit->setText(QString::fromStdString(str));
    }
}
