// The command-line grammar our programs share: "--name value" or
// "--name=value" for options that take a value, bare flags, and "-h" or
// "--help". A fault is one line of text for the program to print before it
// exits with status 2.
#pragma once

#include <functional>
#include <vector>

#include "WinTypes.h"

class CCommandLine {
public:
    struct COption {
        const char* pszName;  // with its dashes: "--port"
        bool bTakesValue;
    };

    // Called for each option in the order given; strValue is empty for a
    // flag. Returns false to refuse the value; it may set strError to say
    // why, otherwise the error names the option and the value.
    using Handler =
        std::function<bool(const CString& strName, const CString& strValue, CString& strError)>;

    enum class EResult { RUN, HELP, BAD };

    // Stops at the first fault (strError set, BAD) or at "-h"/"--help" (HELP).
    static EResult Parse(int argc, const char* const* argv, const std::vector<COption>& options,
                         const Handler& handler, CString& strError);

    // A whole decimal number within [nMin, nMax]: no blanks, no '+', nothing
    // after the digits, nothing that overflows on the way. With bHex also
    // "0x" or "0X" and hex digits (no sign).
    static bool ParseNumber(const CString& strText, long long nMin, long long nMax,
                            long long& nValue, bool bHex = false);

    // ParseNumber, and on refusal the standard line:
    // "--port needs a number from 1 to 65535, not 'x'".
    static bool ParseNumber(const CString& strOption, const CString& strText, long long nMin,
                            long long nMax, long long& nValue, CString& strError,
                            bool bHex = false);
};
