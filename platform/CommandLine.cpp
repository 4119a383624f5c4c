#include "CommandLine.h"

#include <cerrno>
#include <cstdlib>

CCommandLine::EResult CCommandLine::Parse(int argc, const char* const* argv,
                                          const std::vector<COption>& options,
                                          const Handler& handler, CString& strError) {
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
        const COption* pOption = nullptr;
        for (const COption& option : options) {
            if (strName == option.pszName) {
                pOption = &option;
            }
        }
        if (pOption == nullptr) {
            strError = "unknown option " + strName;
            return EResult::BAD;
        }
        if (!pOption->bTakesValue && bInline) {
            strError = strName + " takes no value";
            return EResult::BAD;
        }
        if (pOption->bTakesValue && !bInline) {
            if (i + 1 >= argc) {
                strError = strName + " needs a value";
                return EResult::BAD;
            }
            strValue = argv[++i];
        }
        strError.clear();
        if (!handler(strName, strValue, strError)) {
            if (strError.empty()) {
                strError = "bad value for " + strName + ": '" + strValue + "'";
            }
            return EResult::BAD;
        }
    }
    return EResult::RUN;
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
