// The system message table for the codes this program can meet.
#pragma once

#include <cstdarg>

#include "WinTypes.h"

constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// Copies the system text of dwMessageId, with the line end the system appends,
// into lpBuffer (at most nSize - 1 characters and a terminator). Returns the
// number of characters stored, 0 when there is no text for the code or the
// buffer cannot hold it.
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     char* lpBuffer, DWORD nSize, va_list* Arguments);
