// Virtual-key codes for Qt keys and back, for accelerator tables and the
// translated input messages.
#pragma once

#include "WinUser.h"

// 0 when the key has no virtual-key code.
WORD VirtualKeyFromQtKey(int nQtKey);
// Qt::Key_unknown when the code has no Qt key.
int QtKeyFromVirtualKey(WORD wVirtualKey);
