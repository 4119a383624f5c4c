// Socket start-up as the framework offers it: TRUE when the process can
// open IPv4 stream sockets. There is nothing to clean up at exit.
#pragma once

#include "WinUser.h"

BOOL AfxSocketInit(void* lpwsaData = nullptr);
