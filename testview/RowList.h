// How a read changes the value list, as a plain model of the list box: rows
// are replaced in place, the list is trimmed to the read's quantity, and a
// selected row stays selected only where the rules keep it. Updates that
// arrive faster than the window draws are merged, and applying the merge
// gives the list that applying each in turn would have given.
#pragma once

#include <vector>

#include "platform/WinTypes.h"

struct CRowList {
    std::vector<CString> rows;
    int nSel = -1;  // the selected row, -1 for none
};

struct CListUpdate {
    // Rows were written (a register or bit read); rows holds the last ones.
    bool bWroteRows = false;
    std::vector<CString> rows;
    // The list is cut to this many rows after the rows are written.
    int nTrim = -1;  // -1: no cut
    // The smallest quantity of the merged reads: a selection at or past it
    // was lost on the way.
    int nMinQuantity = -1;  // -1: no read merged yet
};

// The update of one read: its rows (none for the loop-back test) and its
// quantity.
CListUpdate MakeListUpdate(std::vector<CString> rows, bool bWroteRows, int nQuantity);
// next applied after pending, as one update.
void MergeListUpdate(CListUpdate& pending, CListUpdate next);
void ApplyListUpdate(CRowList& list, const CListUpdate& update);
