#include "Text.h"

#include <cctype>

namespace {
bool IsCut(char ch, ETrim cut) {
    if (cut == ETrim::BLANKS) {
        return ch == ' ' || ch == '\t';
    }
    return std::isspace(static_cast<unsigned char>(ch)) != 0;
}
}  // namespace

std::string Trim(const std::string& str, ETrim cut) {
    size_t nFirst = 0;
    size_t nEnd = str.size();
    while (nFirst < nEnd && IsCut(str[nFirst], cut)) {
        ++nFirst;
    }
    while (nEnd > nFirst && IsCut(str[nEnd - 1], cut)) {
        --nEnd;
    }
    return str.substr(nFirst, nEnd - nFirst);
}

std::vector<std::string> Split(const std::string& str, char chSeparator) {
    std::vector<std::string> parts;
    size_t nStart = 0;
    for (;;) {
        const size_t nPos = str.find(chSeparator, nStart);
        parts.push_back(str.substr(nStart, nPos - nStart));
        if (nPos == std::string::npos) {
            return parts;
        }
        nStart = nPos + 1;
    }
}
