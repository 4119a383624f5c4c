#include "RowList.h"

#include <algorithm>

CListUpdate MakeListUpdate(std::vector<CString> rows, bool bWroteRows, int nQuantity) {
    CListUpdate update;
    update.bWroteRows = bWroteRows;
    update.rows = std::move(rows);
    update.nTrim = nQuantity;
    update.nMinQuantity = nQuantity;
    return update;
}

void MergeListUpdate(CListUpdate& pending, CListUpdate next) {
    if (pending.nMinQuantity < 0) {
        pending = std::move(next);
        return;
    }
    const int nMin = next.nMinQuantity < 0 ? pending.nMinQuantity
                                           : std::min(pending.nMinQuantity, next.nMinQuantity);
    if (next.bWroteRows) {
        // A read that writes its rows leaves exactly them: what came before
        // matters only for the selection.
        pending.rows = std::move(next.rows);
        pending.nTrim = next.nTrim;
        pending.bWroteRows = true;
    } else if (next.nTrim >= 0) {
        pending.nTrim = pending.nTrim < 0 ? next.nTrim : std::min(pending.nTrim, next.nTrim);
    }
    pending.nMinQuantity = nMin;
}

void ApplyListUpdate(CRowList& list, const CListUpdate& update) {
    if (update.nMinQuantity < 0) {
        return;
    }
    const int nSel = list.nSel;
    const size_t nWritten = update.bWroteRows ? update.rows.size() : 0;
    for (size_t i = 0; i < nWritten; ++i) {
        if (i < list.rows.size()) {
            list.rows[i] = update.rows[i];
        } else {
            list.rows.push_back(update.rows[i]);
        }
    }
    if (update.nTrim >= 0 && list.rows.size() > size_t(update.nTrim)) {
        list.rows.resize(size_t(update.nTrim));
    }
    // A rewritten or deleted row loses its selection, and a row past the
    // first is selected again while it exists after every merged read; so
    // it is kept only below the smallest quantity. Row 0 is never restored:
    // it stays selected only where no read wrote rows.
    const int nCount = int(list.rows.size());
    if (nSel > 0) {
        list.nSel = nSel < update.nMinQuantity && nSel < nCount ? nSel : -1;
    } else if (nSel == 0) {
        list.nSel = !update.bWroteRows && nCount > 0 ? 0 : -1;
    }
}
