// The toggle keys' state as the status bar shows it: bit 0 of the result is
// set while Caps Lock, Num Lock or Scroll Lock is on. Read from the X
// server's keyboard indicators; 0 where there is no X server.
#pragma once

#include "WinUser.h"

SHORT GetKeyState(int nVirtKey);
