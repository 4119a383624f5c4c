#include "Controls.h"

#include <QComboBox>
#include <QListWidget>

#include "DialogBuilder.h"

namespace {
// The first index whose text sorts after str, so equal lines keep their
// order of arrival.
template <typename TextAt>
int SortedPosition(int nCount, const QString& str, TextAt textAt) {
    int lo = 0;
    int hi = nCount;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (QString::compare(textAt(mid), str, Qt::CaseInsensitive) <= 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}
}  // namespace

int AddString(QComboBox* pCombo, const CString& str) {
    QString text = QString::fromStdString(str);
    int nIndex = pCombo->count();
    if (GetControlStyle(pCombo) & CBS_SORT) {
        nIndex =
            SortedPosition(pCombo->count(), text, [pCombo](int i) { return pCombo->itemText(i); });
    }
    bool bNoSelection = pCombo->currentIndex() < 0;
    pCombo->insertItem(nIndex, text);
    if (bNoSelection) {
        // Adding a line selects nothing.
        pCombo->setCurrentIndex(-1);
    }
    return nIndex;
}

int AddString(QListWidget* pList, const CString& str) {
    QString text = QString::fromStdString(str);
    int nIndex = pList->count();
    if (GetControlStyle(pList) & LBS_SORT) {
        nIndex =
            SortedPosition(pList->count(), text, [pList](int i) { return pList->item(i)->text(); });
    }
    pList->insertItem(nIndex, text);
    return nIndex;
}
