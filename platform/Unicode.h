// Conversions between our "ANSI code page" (UTF-8) and UTF-16.
#pragma once

#include <string>

#include "WinTypes.h"

// Invalid sequences become U+FFFD.
std::u16string MultiByteToWide(const std::string& s);
// Unpaired surrogates become U+FFFD.
std::string WideToMultiByte(const std::u16string& w);
