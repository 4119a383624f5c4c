// Builds small but well-formed type-library files of both formats.
#pragma once

#include <string>
#include <vector>

#include "platform/com/TypeLib.h"

// The newer format: header, segment directory and a GUID table holding the
// library's identifier; no type descriptions.
std::vector<BYTE> MakeMsftTypeLib(const GUID& guid, WORD wMajor, WORD wMinor, LCID lcid,
                                  SYSKIND syskind);
// The older format: header, one file block, and the library block after it.
std::vector<BYTE> MakeSltgTypeLib(const GUID& guid, WORD wMajor, WORD wMinor, LCID lcid,
                                  SYSKIND syskind);
void WriteFile(const std::string& strPath, const std::vector<BYTE>& data);
