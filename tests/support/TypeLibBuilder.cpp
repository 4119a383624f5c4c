#include "tests/support/TypeLibBuilder.h"

#include <fstream>
#include <initializer_list>

namespace {
void Put16(std::vector<BYTE>& out, std::initializer_list<unsigned> values) {
    for (unsigned v : values) {
        out.push_back(static_cast<BYTE>(v));
        out.push_back(static_cast<BYTE>(v >> 8));
    }
}
void Put32(std::vector<BYTE>& out, std::initializer_list<DWORD> values) {
    for (DWORD v : values) {
        Put16(out, {v & 0xFFFF, v >> 16});
    }
}
void PutGuid(std::vector<BYTE>& out, const GUID& g) {
    Put32(out, {g.Data1});
    Put16(out, {g.Data2, g.Data3});
    out.insert(out.end(), g.Data4, g.Data4 + 8);
}
}  // namespace

std::vector<BYTE> MakeMsftTypeLib(const GUID& guid, WORD wMajor, WORD wMinor, LCID lcid,
                                  SYSKIND syskind) {
    std::vector<BYTE> out;
    // "MSFT", version, the library's GUID at the table's first entry, the
    // locales, platform, version, no flags, no type descriptions, then
    // offsets and sizes of what this library does not have.
    const DWORD dwPlatform = 0x40U | syskind;
    const DWORD dwVersion = static_cast<DWORD>(wMinor) << 16 | wMajor;
    const DWORD dwNone = 0xFFFFFFFF;
    Put32(out, {0x5446534D, 0x00010002, 0,      lcid, lcid, dwPlatform, dwVersion,
                0,          0,          dwNone, 0,    0,    0,          0,
                dwNone,     dwNone,     dwNone, 0x20, 0x80, dwNone,     0});
    // The segment directory: only the GUID table is there.
    const DWORD nGuidTable = 0x54 + 15 * 16;
    for (int i = 0; i < 15; ++i) {
        Put32(out, {i == 5 ? nGuidTable : dwNone, i == 5 ? 24U : 0U, dwNone, 0x0F});
    }
    PutGuid(out, guid);
    Put32(out, {dwNone, dwNone});
    return out;
}

std::vector<BYTE> MakeSltgTypeLib(const GUID& guid, WORD wMajor, WORD wMinor, LCID lcid,
                                  SYSKIND syskind) {
    std::vector<BYTE> out;
    Put32(out, {0x47544C53});  // "SLTG"
    Put16(out, {2, 9, 0, 1});  // one block entry
    PutGuid(out, {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}});
    Put32(out, {0, 0xFFFF0000});
    // The block entry: 8 bytes long, index string at the magic, no next.
    Put32(out, {8});
    Put16(out, {0, 0});
    out.push_back(0x01);
    const char magic[12] = {'C', 'o', 'm', 'p', 'O', 'b', 'j', 0, 'd', 'i', 'r', 0};
    out.insert(out.end(), magic, magic + 12);
    out.insert(out.end(), 9, 0);     // pad, no index strings with one block
    out.insert(out.end(), 8, 0xAB);  // the block itself
    // The library block: magic, reserved name, help string "help", no help
    // file, then platform, locale, version and GUID.
    Put16(out, {0x51CC, 3, 0, 0xFFFF, 4});
    out.insert(out.end(), {'h', 'e', 'l', 'p'});
    Put16(out, {0xFFFF});
    Put32(out, {0});
    Put16(out, {syskind, lcid});
    Put32(out, {0});
    Put16(out, {0, wMajor, wMinor});
    PutGuid(out, guid);
    return out;
}

void WriteFile(const std::string& strPath, const std::vector<BYTE>& data) {
    std::ofstream out(strPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}
