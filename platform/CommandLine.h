// The command-line grammar our programs share: "--name value" or
// "--name=value" for options that take a value, bare flags, and "-h" or
// "--help". A fault is one line of text for the program to print before it
// exits with status 2. A program may declare its options as one table of
// entries, each with its own setter and help, from which both the parse and
// the help's option lines come.
#pragma once

#include <functional>
#include <string>
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

    // One option of a table: what it is called, what it does with its value,
    // and how the help shows it. An entry without a name is a heading line of
    // the help; one without help is told of in another entry's help.
    struct CEntry {
        const char* pszName;   // with its dashes: "--port"
        const char* pszValue;  // as the help names the value: "N"; null for a flag
        const char* pszHelp;   // its lines, '\n' between them; null: not a line of its own
        Handler set;           // called with the entry's own name
    };
    using Table = std::vector<CEntry>;

    static CEntry Heading(const char* pszText) { return {nullptr, nullptr, pszText, nullptr}; }

    // Setters for entries. The number's refusal is the standard line below;
    // a choice's is "unknown <what> <value>".
    static Handler Flag(bool& bTarget);
    static Handler Text(std::string& strTarget);
    template <typename T>
    static Handler Number(T& target, long long nMin, long long nMax, bool bHex = false) {
        return [&target, nMin, nMax, bHex](const CString& strName, const CString& strValue,
                                           CString& strError) {
            long long n = 0;
            if (!ParseNumber(strName, strValue, nMin, nMax, n, strError, bHex)) {
                return false;
            }
            target = T(n);
            return true;
        };
    }
    static Handler Choice(std::string& strTarget, std::vector<const char*> names,
                          const char* pszWhat);

    // As above; each option given goes to its own entry's setter. A table
    // with a name twice or an option without a setter is refused, whatever
    // the arguments.
    static EResult Parse(int argc, const char* const* argv, const Table& table, CString& strError);

    // The table's lines for a help text: headings as they are, each option as
    // "  --name VALUE" with its help lines in one column after the longest of
    // those, and last "--help" itself.
    static CString Help(const Table& table);

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
