// Modules already in the process, as the loader's look-ups see them. The
// COM stand-in is the module "ole32.dll"; it counts as present only when
// the process can open the Unix-domain sockets its out-of-process
// activation runs on.
#pragma once

#include "WinUser.h"

struct HMODULE__;
using HMODULE = HMODULE__*;
using FARPROC = void (*)();

// Null when no such module is present; never loads one.
HMODULE GetModuleHandleA(LPCSTR lpModuleName);
// Null when the module does not export the name.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
