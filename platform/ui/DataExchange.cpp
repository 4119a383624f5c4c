#include "DataExchange.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

void DDX_Check(CDataExchange* pDX, int nIDC, BOOL& value) {
    auto* pCheck = qobject_cast<QCheckBox*>(GetDlgItem(pDX->m_pDlgWnd, nIDC));
    if (pCheck == nullptr) {
        return;
    }
    if (pDX->m_bSaveAndValidate) {
        value = pCheck->checkState() == Qt::Checked            ? 1
                : pCheck->checkState() == Qt::PartiallyChecked ? 2
                                                               : 0;
    } else {
        pCheck->setCheckState(value == 1   ? Qt::Checked
                              : value == 2 ? Qt::PartiallyChecked
                                           : Qt::Unchecked);
    }
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    QWidget* pControl = GetDlgItem(pDX->m_pDlgWnd, nIDC);
    if (auto* pEdit = qobject_cast<QLineEdit*>(pControl)) {
        if (pDX->m_bSaveAndValidate) {
            value = pEdit->text().toStdString();
        } else {
            pEdit->setText(QString::fromStdString(value));
        }
    } else if (auto* pLabel = qobject_cast<QLabel*>(pControl)) {
        if (pDX->m_bSaveAndValidate) {
            value = pLabel->text().toStdString();
        } else {
            pLabel->setText(QString::fromStdString(value));
        }
    }
}
