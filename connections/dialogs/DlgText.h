// Text helpers the connection dialogs share.
#pragma once

#include <QLineEdit>
#include <cctype>

#include "platform/WinTypes.h"

// Without leading and trailing white space.
inline CString TrimText(const CString& str) {
    size_t first = 0;
    size_t last = str.size();
    while (first < last && std::isspace(static_cast<unsigned char>(str[first]))) {
        ++first;
    }
    while (last > first && std::isspace(static_cast<unsigned char>(str[last - 1]))) {
        --last;
    }
    return str.substr(first, last - first);
}

inline CString GetWindowText(const QLineEdit* pEdit) {
    return pEdit != nullptr ? pEdit->text().toStdString() : CString();
}

inline void SetWindowText(QLineEdit* pEdit, const CString& str) {
    if (pEdit != nullptr) {
        pEdit->setText(QString::fromStdString(str));
    }
}
