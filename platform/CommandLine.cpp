#include "CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

CCommandLine::EResult CCommandLine::Parse(int argc, const char* const* argv,
                                          const std::vector<COption>& options,
                                          const Handler& handler, CString& strError) {
    Table table;
    for (const COption& option : options) {
        table.push_back({option.pszName, option.bTakesValue ? "" : nullptr, nullptr, handler});
    }
    return Parse(argc, argv, table, strError);
}

CCommandLine::EResult CCommandLine::Parse(int argc, const char* const* argv, const Table& table,
                                          CString& strError) {
    // A name twice would leave one of its entries never reached, and one
    // without a setter would handle nothing: the program is wrong, whatever
    // its command line.
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (it->pszName == nullptr) {
            continue;
        }
        const auto same = [&](const CEntry& other) {
            return other.pszName != nullptr && std::strcmp(other.pszName, it->pszName) == 0;
        };
        if (!it->set || std::any_of(it + 1, table.end(), same)) {
            strError = CString("option table: ") + it->pszName +
                       (it->set ? " declared twice" : " without a setter");
            return EResult::BAD;
        }
    }
    for (int i = 1; i < argc; ++i) {
        CString strName = argv[i];
        if (strName == "--help" || strName == "-h") {
            return EResult::HELP;
        }
        CString strValue;
        const size_t nEquals = strName.find('=');
        const bool bInline = strName.rfind("--", 0) == 0 && nEquals != CString::npos;
        if (bInline) {
            strValue = strName.substr(nEquals + 1);
            strName.resize(nEquals);
        }
        const CEntry* pEntry = nullptr;
        for (const CEntry& entry : table) {
            if (entry.pszName != nullptr && strName == entry.pszName) {
                pEntry = &entry;
            }
        }
        if (pEntry == nullptr) {
            strError = "unknown option " + strName;
            return EResult::BAD;
        }
        const bool bTakesValue = pEntry->pszValue != nullptr;
        if (!bTakesValue && bInline) {
            strError = strName + " takes no value";
            return EResult::BAD;
        }
        if (bTakesValue && !bInline) {
            if (i + 1 >= argc) {
                strError = strName + " needs a value";
                return EResult::BAD;
            }
            strValue = argv[++i];
        }
        strError.clear();
        if (!pEntry->set(strName, strValue, strError)) {
            if (strError.empty()) {
                strError = "bad value for " + strName + ": '" + strValue + "'";
            }
            return EResult::BAD;
        }
    }
    return EResult::RUN;
}

CCommandLine::Handler CCommandLine::Flag(bool& bTarget) {
    return [&bTarget](const CString&, const CString&, CString&) {
        bTarget = true;
        return true;
    };
}

CCommandLine::Handler CCommandLine::Text(std::string& strTarget) {
    return [&strTarget](const CString&, const CString& strValue, CString&) {
        strTarget = strValue;
        return true;
    };
}

CCommandLine::Handler CCommandLine::Choice(std::string& strTarget, std::vector<const char*> names,
                                           const char* pszWhat) {
    return [&strTarget, names = std::move(names), pszWhat](const CString&, const CString& strValue,
                                                           CString& strError) {
        for (const char* pszName : names) {
            if (strValue == pszName) {
                strTarget = strValue;
                return true;
            }
        }
        strError = CString("unknown ") + pszWhat + " " + strValue;
        return false;
    };
}

CString CCommandLine::Help(const Table& table) {
    auto left = [](const CEntry& entry) {
        return "  " + CString(entry.pszName) +
               (entry.pszValue != nullptr ? " " + CString(entry.pszValue) : "");
    };
    size_t nColumn = 0;
    for (const CEntry& entry : table) {
        if (entry.pszName != nullptr && entry.pszHelp != nullptr) {
            nColumn = std::max(nColumn, left(entry).size() + 1);
        }
    }
    auto line = [nColumn](CString strLeft, const char* pszHelp) {
        CString strLines;
        for (const char* psz = pszHelp; psz != nullptr;) {
            const char* pszEnd = std::strchr(psz, '\n');
            strLeft.resize(nColumn, ' ');
            strLines += strLeft + (pszEnd != nullptr ? CString(psz, pszEnd) : CString(psz)) + "\n";
            strLeft.clear();
            psz = pszEnd != nullptr ? pszEnd + 1 : nullptr;
        }
        return strLines;
    };
    CString strHelp;
    for (const CEntry& entry : table) {
        if (entry.pszName == nullptr) {
            strHelp += CString(entry.pszHelp) + "\n";
        } else if (entry.pszHelp != nullptr) {
            strHelp += line(left(entry), entry.pszHelp);
        }
    }
    return strHelp + line("  --help", "show this text");
}

bool CCommandLine::ParseNumber(const CString& strText, long long nMin, long long nMax,
                               long long& nValue, bool bHex) {
    const char* psz = strText.c_str();
    int nBase = 10;
    if (bHex && psz[0] == '0' && (psz[1] == 'x' || psz[1] == 'X')) {
        // strtoll would take a sign, blanks or a second "0x" after the prefix.
        psz += 2;
        if (*psz == '\0' ||
            strText.find_first_not_of("0123456789abcdefABCDEF", 2) != CString::npos) {
            return false;
        }
        nBase = 16;
    }
    const bool bDigitFirst =
        (*psz >= '0' && *psz <= '9') || (*psz == '-' && psz[1] >= '0' && psz[1] <= '9');
    if (nBase == 10 && !bDigitFirst) {
        return false;
    }
    char* pszEnd = nullptr;
    errno = 0;
    const long long n = std::strtoll(psz, &pszEnd, nBase);
    if (errno != 0 || *pszEnd != '\0' || n < nMin || n > nMax) {
        return false;
    }
    nValue = n;
    return true;
}

bool CCommandLine::ParseNumber(const CString& strOption, const CString& strText, long long nMin,
                               long long nMax, long long& nValue, CString& strError, bool bHex) {
    if (ParseNumber(strText, nMin, nMax, nValue, bHex)) {
        return true;
    }
    strError = strOption + " needs a number from " + std::to_string(nMin) + " to " +
               std::to_string(nMax) + ", not '" + strText + "'";
    return false;
}
