#include "TypeLib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Unicode.h"
#include "platform/UniqueFd.h"

const IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {
constexpr DWORD kMsftMagic = 0x5446534D;  // "MSFT"
constexpr DWORD kSltgMagic = 0x47544C53;  // "SLTG"
constexpr WORD kSltgLibBlockMagic = 0x51CC;
constexpr size_t kMsftHeaderSize = 0x54;
constexpr size_t kMsftSegmentCount = 15;
constexpr size_t kMsftGuidSegment = 5;
constexpr DWORD kMsftHelpDllFlag = 0x100;
constexpr size_t kSltgHeaderSize = 0x24;
constexpr size_t kSltgMagicSize = 13;  // 0x01, "CompObj", "dir"
constexpr size_t kSltgIndexSize = 11;
constexpr size_t kSltgPadSize = 9;

// Little-endian reads, bounds-checked.
class CReader {
public:
    explicit CReader(const std::vector<BYTE>& data) : m_data(data) {}

    bool Has(size_t nOffset, size_t nBytes) const {
        return nOffset <= m_data.size() && nBytes <= m_data.size() - nOffset;
    }
    WORD Word(size_t nOffset) const {
        return static_cast<WORD>(m_data[nOffset] | (m_data[nOffset + 1] << 8));
    }
    DWORD Dword(size_t nOffset) const {
        return static_cast<DWORD>(Word(nOffset)) | (static_cast<DWORD>(Word(nOffset + 2)) << 16);
    }
    GUID Guid(size_t nOffset) const {
        GUID guid;
        guid.Data1 = Dword(nOffset);
        guid.Data2 = Word(nOffset + 4);
        guid.Data3 = Word(nOffset + 6);
        std::memcpy(guid.Data4, &m_data[nOffset + 8], 8);
        return guid;
    }

private:
    const std::vector<BYTE>& m_data;
};

bool ParseMsft(const std::vector<BYTE>& data, TLIBATTR& attr) {
    CReader r(data);
    if (!r.Has(0, kMsftHeaderSize)) {
        return false;
    }
    auto posGuid = static_cast<std::int32_t>(r.Dword(0x08));
    DWORD varFlags = r.Dword(0x14);
    auto nTypeInfos = static_cast<std::int32_t>(r.Dword(0x20));
    if (nTypeInfos < 0 || posGuid < 0) {
        return false;
    }
    // The type-info offsets, one more word with a help DLL, then the
    // segment directory.
    size_t nDirectory = kMsftHeaderSize + 4 * static_cast<size_t>(nTypeInfos) +
                        ((varFlags & kMsftHelpDllFlag) ? 4 : 0);
    if (!r.Has(nDirectory, kMsftSegmentCount * 16)) {
        return false;
    }
    size_t nGuidEntry = nDirectory + kMsftGuidSegment * 16;
    auto segOffset = static_cast<std::int32_t>(r.Dword(nGuidEntry));
    auto segLength = static_cast<std::int32_t>(r.Dword(nGuidEntry + 4));
    if (segOffset < 0 || segLength < 0 || posGuid + 16 > segLength ||
        !r.Has(static_cast<size_t>(segOffset), static_cast<size_t>(segLength))) {
        return false;
    }
    attr.guid = r.Guid(static_cast<size_t>(segOffset + posGuid));
    attr.lcid = r.Dword(0x0C);
    attr.syskind = static_cast<SYSKIND>(varFlags & 0xF);
    DWORD version = r.Dword(0x18);
    attr.wMajorVerNum = static_cast<WORD>(version & 0xFFFF);
    attr.wMinorVerNum = static_cast<WORD>(version >> 16);
    attr.wLibFlags = static_cast<WORD>(r.Dword(0x1C) & 0xFFFF);
    return attr.syskind <= SYS_WIN64;
}

// Skips a counted name: a length word (0xFFFF for none) and its bytes.
bool SkipSltgName(const CReader& r, size_t& nOffset) {
    if (!r.Has(nOffset, 2)) {
        return false;
    }
    WORD nLength = r.Word(nOffset);
    nOffset += 2;
    if (nLength != 0xFFFF) {
        if (!r.Has(nOffset, nLength)) {
            return false;
        }
        nOffset += nLength;
    }
    return true;
}

bool ParseSltg(const std::vector<BYTE>& data, TLIBATTR& attr) {
    CReader r(data);
    if (!r.Has(0, kSltgHeaderSize)) {
        return false;
    }
    WORD nFileBlocks = r.Word(0x04);
    if (nFileBlocks < 2) {
        return false;
    }
    size_t nEntries = kSltgHeaderSize;
    size_t nEntryCount = nFileBlocks - 1u;
    size_t nMagic = nEntries + 8 * nEntryCount;
    if (!r.Has(nMagic, kSltgMagicSize) || data[nMagic] != 0x01 ||
        std::memcmp(&data[nMagic + 1], "CompObj", 8) != 0 ||
        std::memcmp(&data[nMagic + 9], "dir", 4) != 0) {
        return false;
    }
    size_t nBlocks = nMagic + kSltgMagicSize + kSltgIndexSize * (nFileBlocks - 2u) + kSltgPadSize;
    size_t nLibBlock = nBlocks;
    for (size_t i = 0; i < nEntryCount; ++i) {
        nLibBlock += r.Dword(nEntries + 8 * i);
        if (nLibBlock > data.size()) {
            return false;
        }
    }
    // The library block follows the file's blocks.
    if (!r.Has(nLibBlock, 6) || r.Word(nLibBlock) != kSltgLibBlockMagic) {
        return false;
    }
    size_t nPos = nLibBlock + 6;   // magic, a reserved word, the name's offset
    for (int i = 0; i < 3; ++i) {  // reserved, help string, help file
        if (!SkipSltgName(r, nPos)) {
            return false;
        }
    }
    if (!r.Has(nPos, 4 + 2 + 2 + 4 + 2 + 2 + 2 + 16)) {
        return false;
    }
    nPos += 4;  // help context
    attr.syskind = static_cast<SYSKIND>(r.Word(nPos));
    attr.lcid = r.Word(nPos + 2);
    nPos += 8;  // syskind, lcid, a reserved dword
    attr.wLibFlags = r.Word(nPos);
    attr.wMajorVerNum = r.Word(nPos + 2);
    attr.wMinorVerNum = r.Word(nPos + 4);
    attr.guid = r.Guid(nPos + 6);
    return attr.syskind <= SYS_WIN64;
}

class CTypeLib : public CRefCounted<ITypeLib> {
public:
    explicit CTypeLib(const TLIBATTR& attr) : m_attr(attr) {}

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_ITypeLib) {
            *ppvObject = static_cast<ITypeLib*>(this);
            AddRef();
            return S_OK;
        }
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    UINT GetTypeInfoCount() override { return 0; }
    HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) override {
        if (ppTLibAttr == nullptr) {
            return E_INVALIDARG;
        }
        *ppTLibAttr = new TLIBATTR(m_attr);
        return S_OK;
    }
    void ReleaseTLibAttr(TLIBATTR* pTLibAttr) override { delete pTLibAttr; }

private:
    TLIBATTR m_attr;
};

std::string ToUtf8(LPCOLESTR psz) {
    if (psz == nullptr) {
        return std::string();
    }
    std::u16string w;
    for (; *psz != 0; ++psz) {
        w.push_back(*psz);
    }
    return WideToMultiByte(w);
}

std::string GuidText(const GUID& g) {
    char sz[40];
    std::snprintf(sz, sizeof sz, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return sz;
}

const char* PlatformName(SYSKIND syskind) {
    switch (syskind) {
        case SYS_WIN16:
            return "win16";
        case SYS_WIN32:
            return "win32";
        case SYS_MAC:
            return "mac";
        default:
            return "win64";
    }
}

// Fields are tab-separated; a tab, a line end or a backslash in a path is
// escaped.
std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool MakeDirectories(const std::string& strPath) {
    for (size_t nSlash = strPath.find('/', 1);; nSlash = strPath.find('/', nSlash + 1)) {
        std::string strDir = strPath.substr(0, nSlash);
        if (mkdir(strDir.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (nSlash == std::string::npos) {
            return true;
        }
    }
}

bool WriteAtomically(const std::string& strPath, const std::string& strContent) {
    std::string strTemp = strPath + ".tmp";
    CUniqueFd fd(open(strTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) {
        return false;
    }
    size_t nDone = 0;
    while (nDone < strContent.size()) {
        ssize_t n = write(fd.Get(), strContent.data() + nDone, strContent.size() - nDone);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fd.Reset();
            unlink(strTemp.c_str());
            return false;
        }
        nDone += static_cast<size_t>(n);
    }
    bool bOk = fsync(fd.Get()) == 0;
    bOk = fd.Reset() == 0 && bOk;
    if (!bOk || rename(strTemp.c_str(), strPath.c_str()) != 0) {
        unlink(strTemp.c_str());
        return false;
    }
    return true;
}
}  // namespace

std::string TypeLibRegistryPath() {
    const char* pszData = std::getenv("XDG_DATA_HOME");
    std::string strBase;
    if (pszData != nullptr && pszData[0] == '/') {
        strBase = pszData;
    } else {
        const char* pszHome = std::getenv("HOME");
        strBase = std::string(pszHome ? pszHome : "") + "/.local/share";
    }
    return strBase + "/regprobe/typelib.reg";
}

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
    if (szFile == nullptr || pptlib == nullptr) {
        return E_INVALIDARG;
    }
    *pptlib = nullptr;
    std::ifstream in(ToUtf8(szFile), std::ios::binary);
    if (!in) {
        return STG_E_FILENOTFOUND;
    }
    // A type library is small; anything past this is not one.
    constexpr std::streamsize kMaxSize = 64 << 20;
    std::vector<BYTE> data;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        data.insert(data.end(), buffer, buffer + in.gcount());
        if (static_cast<std::streamsize>(data.size()) > kMaxSize) {
            return TYPE_E_CANTLOADLIBRARY;
        }
    }
    if (data.size() < 4) {
        return TYPE_E_CANTLOADLIBRARY;
    }
    TLIBATTR attr{};
    DWORD magic = CReader(data).Dword(0);
    bool bParsed = magic == kMsftMagic   ? ParseMsft(data, attr)
                   : magic == kSltgMagic ? ParseSltg(data, attr)
                                         : false;
    if (!bParsed) {
        return magic == kMsftMagic || magic == kSltgMagic ? TYPE_E_INVDATAREAD
                                                          : TYPE_E_CANTLOADLIBRARY;
    }
    *pptlib = new CTypeLib(attr);
    return S_OK;
}

HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
    if (ptlib == nullptr || szFullPath == nullptr) {
        return E_INVALIDARG;
    }
    TLIBATTR* pAttr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&pAttr);
    if (FAILED(hr)) {
        return hr;
    }
    char szVersion[16];
    std::snprintf(szVersion, sizeof szVersion, "%x.%x", pAttr->wMajorVerNum, pAttr->wMinorVerNum);
    char szLcid[16];
    std::snprintf(szLcid, sizeof szLcid, "%x", pAttr->lcid);
    char szFlags[16];
    std::snprintf(szFlags, sizeof szFlags, "%x", pAttr->wLibFlags);
    // The key: library, version, locale and platform, as the system's
    // TypeLib\{guid}\version\lcid\platform.
    std::string strKey = GuidText(pAttr->guid) + '\t' + szVersion + '\t' + szLcid + '\t' +
                         PlatformName(pAttr->syskind) + '\t';
    std::string strLine = strKey + szFlags + '\t' + Escape(ToUtf8(szFullPath)) + '\t' +
                          Escape(ToUtf8(szHelpDir)) + '\n';
    ptlib->ReleaseTLibAttr(pAttr);

    std::string strPath = TypeLibRegistryPath();
    if (!MakeDirectories(strPath.substr(0, strPath.find_last_of('/')))) {
        return TYPE_E_REGISTRYACCESS;
    }
    std::string strContent;
    {
        std::ifstream in(strPath);
        std::string strExisting;
        while (std::getline(in, strExisting)) {
            if (strExisting.compare(0, strKey.size(), strKey) != 0) {
                strContent += strExisting + '\n';
            }
        }
    }
    strContent += strLine;
    return WriteAtomically(strPath, strContent) ? S_OK : TYPE_E_REGISTRYACCESS;
}
