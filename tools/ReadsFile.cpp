#include "ReadsFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "PollOptions.h"
#include "platform/CommandLine.h"

namespace {

// The line's fields: blanks separate them, double quotes keep blanks in one;
// '#' outside quotes ends the line. False when a quote is not closed.
bool SplitFields(const std::string& strLine, std::vector<std::string>& fields) {
    std::string strField;
    bool bInField = false;
    bool bQuoted = false;
    for (char ch : strLine) {
        if (bQuoted) {
            if (ch == '"') {
                bQuoted = false;
            } else {
                strField += ch;
            }
        } else if (ch == '"') {
            bQuoted = bInField = true;
        } else if (ch == '#') {
            break;
        } else if (ch == ' ' || ch == '\t' || ch == '\r') {
            if (bInField) {
                fields.push_back(strField);
            }
            strField.clear();
            bInField = false;
        } else {
            strField += ch;
            bInField = true;
        }
    }
    if (bInField) {
        fields.push_back(strField);
    }
    return !bQuoted;
}

bool IsOneOf(const std::string& str, const char* const* names, size_t nNames) {
    for (size_t i = 0; i < nNames; ++i) {
        if (str == names[i]) {
            return true;
        }
    }
    return false;
}

// The read of one line's fields, or the reason it is none.
std::string ParseRead(const std::vector<std::string>& f, CReadLine& read) {
    if (f.size() != 7) {
        return "a read has 7 fields (CONNECTION DEVICE FUNCTION ADDRESS QUANTITY TYPE "
               "INTERVAL_MS), not " +
               std::to_string(f.size());
    }
    read.strConnection = f[0];
    for (const char* pszKind : {"tcp:", "rtu-over-tcp:", "udp:"}) {
        if (f[0].rfind(pszKind, 0) != 0) {
            continue;
        }
        const std::string strRest = f[0].substr(std::strlen(pszKind));
        const size_t nColon = strRest.rfind(':');
        long long nPort = 0;
        if (nColon == std::string::npos || nColon == 0 ||
            !CCommandLine::ParseNumber(strRest.substr(nColon + 1), 1, 65535, nPort)) {
            return "'" + f[0] + "' needs HOST:PORT, the port 1-65535";
        }
        read.strTransport = std::string(pszKind, std::strlen(pszKind) - 1);
        read.strHost = strRest.substr(0, nColon);
        read.nPort = long(nPort);
    }
    struct CNumber {
        const char* pszName;
        const std::string& strText;
        long long nMax;
        long& nTarget;
    };
    const CNumber numbers[] = {{"DEVICE", f[1], 255, read.nDevice},
                               {"ADDRESS", f[3], 65535, read.nAddress},
                               {"QUANTITY", f[4], 255, read.nQuantity},
                               {"INTERVAL_MS", f[6], 10000, read.nInterval}};
    for (const CNumber& n : numbers) {
        long long nValue = 0;
        if (!CCommandLine::ParseNumber(n.strText, 0, n.nMax, nValue, true)) {
            return std::string(n.pszName) + " must be 0-" + std::to_string(n.nMax) + ", not '" +
                   n.strText + "'";
        }
        n.nTarget = long(nValue);
    }
    if (!IsOneOf(f[2], kFunctions, std::size(kFunctions))) {
        return "unknown function '" + f[2] + "'";
    }
    if (!IsOneOf(f[5], kTypes, std::size(kTypes))) {
        return "unknown type '" + f[5] + "'";
    }
    read.strFunction = f[2];
    read.strType = f[5];
    return std::string();
}

}  // namespace

bool ParseReads(const std::string& strText, const std::string& strFile,
                std::vector<CReadLine>& reads, std::string& strError) {
    std::istringstream in(strText);
    std::string strLine;
    for (int nLine = 1; std::getline(in, strLine); ++nLine) {
        std::vector<std::string> fields;
        if (!SplitFields(strLine, fields)) {
            strError = strFile + ":" + std::to_string(nLine) + ": a quote is not closed";
            return false;
        }
        if (fields.empty()) {
            continue;
        }
        CReadLine read;
        read.nLine = nLine;
        const std::string strWhy = ParseRead(fields, read);
        if (!strWhy.empty()) {
            strError = strFile + ":" + std::to_string(nLine) + ": " + strWhy;
            return false;
        }
        reads.push_back(read);
    }
    if (reads.empty()) {
        strError = strFile + ": no reads";
        return false;
    }
    return true;
}

bool LoadReads(const std::string& strFile, std::vector<CReadLine>& reads, std::string& strError) {
    std::ifstream file(strFile);
    if (!file) {
        strError = "cannot read " + strFile + ": " + std::strerror(errno);
        return false;
    }
    const std::string strText((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
    return ParseReads(strText, strFile, reads, strError);
}
