#include "TypeLibBuilder.h"

#include <cstring>
#include <fstream>

namespace {
void Put16(std::vector<BYTE>& out, unsigned v) {
    out.push_back(static_cast<BYTE>(v));
    out.push_back(static_cast<BYTE>(v >> 8));
}
void Put32(std::vector<BYTE>& out, DWORD v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void PutGuid(std::vector<BYTE>& out, const GUID& g) {
    Put32(out, g.Data1);
    Put16(out, g.Data2);
    Put16(out, g.Data3);
    out.insert(out.end(), g.Data4, g.Data4 + 8);
}
}  // namespace

std::vector<BYTE> MakeMsftTypeLib(const GUID& guid, WORD wMajor, WORD wMinor, LCID lcid,
                                  SYSKIND syskind) {
    std::vector<BYTE> out;
    Put32(out, 0x5446534D);  // "MSFT"
    Put32(out, 0x00010002);
    Put32(out, 0);  // the library's GUID is the table's first entry
    Put32(out, lcid);
    Put32(out, lcid);
    Put32(out, 0x40 | syskind);
    Put32(out, static_cast<DWORD>(wMinor) << 16 | wMajor);
    Put32(out, 0);  // flags
    Put32(out, 0);  // no type descriptions
    Put32(out, 0xFFFFFFFF);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0xFFFFFFFF);
    Put32(out, 0xFFFFFFFF);
    Put32(out, 0xFFFFFFFF);
    Put32(out, 0x20);
    Put32(out, 0x80);
    Put32(out, 0xFFFFFFFF);
    Put32(out, 0);
    const DWORD nDirectory = 0x54;
    const DWORD nGuidTable = nDirectory + 15 * 16;
    for (int i = 0; i < 15; ++i) {
        bool bGuids = i == 5;
        Put32(out, bGuids ? nGuidTable : 0xFFFFFFFF);
        Put32(out, bGuids ? 24 : 0);
        Put32(out, 0xFFFFFFFF);
        Put32(out, 0x0F);
    }
    PutGuid(out, guid);
    Put32(out, 0xFFFFFFFF);
    Put32(out, 0xFFFFFFFF);
    return out;
}

std::vector<BYTE> MakeSltgTypeLib(const GUID& guid, WORD wMajor, WORD wMinor, LCID lcid,
                                  SYSKIND syskind) {
    std::vector<BYTE> out;
    Put32(out, 0x47544C53);  // "SLTG"
    Put16(out, 2);           // one block entry
    Put16(out, 9);
    Put16(out, 0);
    Put16(out, 1);
    GUID format = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    PutGuid(out, format);
    Put32(out, 0);
    Put32(out, 0xFFFF0000);
    // The block entry: 8 bytes long, index string at the magic, no next.
    Put32(out, 8);
    Put16(out, 0);
    Put16(out, 0);
    out.push_back(0x01);
    const char magic[12] = {'C', 'o', 'm', 'p', 'O', 'b', 'j', 0, 'd', 'i', 'r', 0};
    out.insert(out.end(), magic, magic + 12);
    out.insert(out.end(), 9, 0);     // pad, no index strings with one block
    out.insert(out.end(), 8, 0xAB);  // the block itself
    // The library block.
    Put16(out, 0x51CC);
    Put16(out, 3);
    Put16(out, 0);
    Put16(out, 0xFFFF);  // reserved name
    Put16(out, 4);       // help string
    out.insert(out.end(), {'h', 'e', 'l', 'p'});
    Put16(out, 0xFFFF);  // no help file
    Put32(out, 0);
    Put16(out, syskind);
    Put16(out, lcid);
    Put32(out, 0);
    Put16(out, 0);
    Put16(out, wMajor);
    Put16(out, wMinor);
    PutGuid(out, guid);
    return out;
}

void WriteFile(const std::string& strPath, const std::vector<BYTE>& data) {
    std::ofstream out(strPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}
