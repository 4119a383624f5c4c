// Type libraries: loading both formats, refusing what is not one, and the
// registry file.
#include "tests/support/TypeLibFixture.h"

TEST_F(TypeLibTest, LoadsBothFormats) {
    WriteFile(Path("new.tlb"), MakeMsftTypeLib(kLibId, 2, 5, 0x409, SYS_WIN32));
    WriteFile(Path("old.tlb"), MakeSltgTypeLib(kLibId, 1, 3, 0x809, SYS_WIN16));
    TLIBATTR attr{};
    ASSERT_EQ(Load(Path("new.tlb"), attr), S_OK);
    EXPECT_EQ(attr.guid, kLibId);
    EXPECT_EQ(attr.wMinorVerNum, 5);
    EXPECT_EQ(attr.lcid, 0x409u);

    ASSERT_EQ(Load(Path("old.tlb"), attr), S_OK);
    EXPECT_EQ(attr.guid, kLibId);
    EXPECT_EQ(attr.wMajorVerNum, 1);
    EXPECT_EQ(attr.wMinorVerNum, 3);
    EXPECT_EQ(attr.syskind, SYS_WIN16);
}

TEST_F(TypeLibTest, RefusesWhatIsNotATypeLibrary) {
    TLIBATTR attr{};
    WriteFile(Path("text.tlb"), {'h', 'e', 'l', 'l', 'o', '\n'});
    EXPECT_EQ(Load(Path("text.tlb"), attr), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(Load(Path("missing.tlb"), attr), STG_E_FILENOTFOUND);
    // Either format cut short anywhere.
    const std::vector<BYTE> good = MakeMsftTypeLib(kLibId, 1, 0, 0, SYS_WIN32);
    for (const std::vector<BYTE>& whole : {good, MakeSltgTypeLib(kLibId, 1, 0, 0, SYS_WIN32)}) {
        for (size_t n = 0; n < whole.size(); ++n) {
            WriteFile(Path("cut.tlb"), std::vector<BYTE>(whole.begin(), whole.begin() + n));
            HRESULT hr = Load(Path("cut.tlb"), attr);
            ASSERT_EQ(hr, n < 4 ? TYPE_E_CANTLOADLIBRARY : TYPE_E_INVDATAREAD) << n;
        }
    }
    // A GUID table position beyond its segment; more type descriptions than
    // the file holds, which pushes the directory out.
    for (size_t nOffset : {0x08, 0x22}) {
        std::vector<BYTE> bad = good;
        bad[nOffset] = nOffset == 0x08 ? 0x40 : 0x10;
        WriteFile(Path("bad.tlb"), bad);
        EXPECT_EQ(Load(Path("bad.tlb"), attr), TYPE_E_INVDATAREAD) << nOffset;
    }
}

TEST_F(TypeLibTest, RegistrationKeepsOneLinePerVersion) {
    WriteFile(Path("a.tlb"), MakeMsftTypeLib(kLibId, 1, 0, 0, SYS_WIN32));
    WriteFile(Path("b.tlb"), MakeMsftTypeLib(kLibId, 1, 0, 0, SYS_WIN32));
    WriteFile(Path("c.tlb"), MakeMsftTypeLib(kLibId, 1, 10, 0, SYS_WIN32));
    for (const char* pszName : {"a.tlb", "b.tlb", "c.tlb"}) {
        CComPtr<ITypeLib> pLib;
        ASSERT_EQ(LoadTypeLib(MultiByteToWide(Path(pszName)).c_str(), &pLib), S_OK);
        EXPECT_EQ(RegisterTypeLib(pLib, MultiByteToWide(Path(pszName)).c_str(), nullptr), S_OK);
    }
    std::vector<std::string> lines = RegistryLines();
    ASSERT_EQ(lines.size(), 2u);
    // Version 1.0 now points at b.tlb; 1.a is a second entry.
    EXPECT_EQ(lines[0], std::string(kLibIdText) + "\t1.0\t0\twin32\t0\t" + Path("b.tlb") + "\t");
    EXPECT_EQ(lines[1], std::string(kLibIdText) + "\t1.a\t0\twin32\t0\t" + Path("c.tlb") + "\t");
}
