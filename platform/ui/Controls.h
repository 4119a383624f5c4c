// Adding lines to list and combo boxes as the system does: a box with the
// sorted style (LBS_SORT, CBS_SORT) places the line by case-insensitive
// order, any other box appends it. Inserting at an index never sorts.
#pragma once

#include "WinUser.h"

class QComboBox;
class QListWidget;

// The index the line went to.
int AddString(QComboBox* pCombo, const CString& str);
int AddString(QListWidget* pList, const CString& str);
