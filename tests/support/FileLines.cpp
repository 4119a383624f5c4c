#include "tests/support/FileLines.h"

#include <fstream>
#include <iterator>

std::string FileText(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> FileLines(const std::string& strPath) {
    std::ifstream in(strPath);
    std::vector<std::string> lines;
    for (std::string s; std::getline(in, s);) {
        lines.push_back(s);
    }
    return lines;
}
