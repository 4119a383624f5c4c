// A file read back whole, as text or as its lines (without the newlines);
// empty when it cannot be read.
#pragma once

#include <string>
#include <vector>

std::string FileText(const std::string& strPath);
std::vector<std::string> FileLines(const std::string& strPath);
