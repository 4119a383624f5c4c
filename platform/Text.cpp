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

bool ParseHexBytes(const std::string& str, std::vector<unsigned char>& bytes) {
    const auto digit = [](char ch) {
        const int c = std::tolower(static_cast<unsigned char>(ch));
        return std::isdigit(c) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    bytes.clear();
    if (str.empty() || str.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < str.size(); i += 2) {
        const int nHigh = digit(str[i]);
        const int nLow = digit(str[i + 1]);
        if (nHigh < 0 || nLow < 0) {
            return false;
        }
        bytes.push_back(static_cast<unsigned char>(nHigh * 16 + nLow));
    }
    return true;
}
