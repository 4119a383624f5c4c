// Type libraries: loading both formats, refusing what is not one, the
// registry file, and the menu command with its two messages.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "TypeLibBuilder.h"
#include "UiTestSupport.h"
#include "platform/Unicode.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"

namespace {
const GUID kLibId = {0x12345678, 0x9ABC, 0xDEF0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
const char* const kLibIdText = "{12345678-9ABC-DEF0-1122-334455667788}";

std::vector<std::string> RegistryLines() {
    std::ifstream in(TypeLibRegistryPath());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class TypeLibTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_strOldData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
    }
    void TearDown() override { qputenv("XDG_DATA_HOME", m_strOldData); }

    std::string Path(const char* pszName) const {
        return m_dir.filePath(QString::fromLatin1(pszName)).toStdString();
    }

    // Loads the file; the attributes, or the failure.
    HRESULT Load(const std::string& strPath, TLIBATTR& attr) {
        ITypeLib* pLib = nullptr;
        HRESULT hr = LoadTypeLib(MultiByteToWide(strPath).c_str(), &pLib);
        if (SUCCEEDED(hr)) {
            TLIBATTR* pAttr = nullptr;
            EXPECT_EQ(pLib->GetLibAttr(&pAttr), S_OK);
            attr = *pAttr;
            pLib->ReleaseTLibAttr(pAttr);
            pLib->Release();
        }
        return hr;
    }

    QTemporaryDir m_dir;
    QByteArray m_strOldData;
};
}  // namespace

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
        ITypeLib* pLib = nullptr;
        ASSERT_EQ(LoadTypeLib(MultiByteToWide(Path(pszName)).c_str(), &pLib), S_OK);
        EXPECT_EQ(RegisterTypeLib(pLib, MultiByteToWide(Path(pszName)).c_str(), nullptr), S_OK);
        pLib->Release();
    }
    std::vector<std::string> lines = RegistryLines();
    ASSERT_EQ(lines.size(), 2u);
    // Version 1.0 now points at b.tlb; 1.a is a second entry.
    EXPECT_EQ(lines[0], std::string(kLibIdText) + "\t1.0\t0\twin32\t0\t" + Path("b.tlb") + "\t");
    EXPECT_EQ(lines[1], std::string(kLibIdText) + "\t1.a\t0\twin32\t0\t" + Path("c.tlb") + "\t");
}

TEST_F(TypeLibTest, MenuCommandReportsTheOutcome) {
    CTestApp app({"-Embedding"});
    ASSERT_TRUE(app.InitInstance());
    CMessageBoxRecorder boxes;
    WriteFile(Path("good.tlb"), MakeMsftTypeLib(kLibId, 3, 1, 0x409, SYS_WIN32));
    WriteFile(Path("bad.tlb"), {'M', 'S', 'F', 'T'});
    std::string strLong = Path("") + std::string(300, 'x') + ".tlb";

    struct Case {
        std::string strPath;
        std::vector<CString> texts;
    };
    const Case cases[] = {
        {Path("good.tlb"), {"Library registred"}},
        {Path("bad.tlb"), {"Library registred failed"}},
        {strLong, {"Library registred failed"}},
        {"", {}},  // cancelled: nothing
    };
    for (const Case& c : cases) {
        boxes.m_boxes.clear();
        CFileDialogAnswer answer(c.strPath);
        MainFrame()->SendCommand(ID_OPTIONS_REGISTER_TYPELIB);
        EXPECT_EQ(answer.m_nShown, 1);
        EXPECT_EQ(answer.m_strLastFilter, "Library Files (*.tlb)|*.tlb|All Files (*.*)|*.*||");
        EXPECT_EQ(boxes.Texts(), c.texts) << c.strPath;
    }
    std::vector<std::string> lines = RegistryLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              std::string(kLibIdText) + "\t3.1\t409\twin32\t0\t" + Path("good.tlb") + "\t");
}

TEST_F(TypeLibTest, RegistryThatCannotBeWrittenFails) {
    // The data directory is a file, so nothing can be created below it.
    WriteFile(Path("data"), {'x'});
    WriteFile(Path("good.tlb"), MakeMsftTypeLib(kLibId, 1, 0, 0, SYS_WIN32));
    ITypeLib* pLib = nullptr;
    ASSERT_EQ(LoadTypeLib(MultiByteToWide(Path("good.tlb")).c_str(), &pLib), S_OK);
    EXPECT_EQ(RegisterTypeLib(pLib, MultiByteToWide(Path("good.tlb")).c_str(), nullptr),
              TYPE_E_REGISTRYACCESS);
    pLib->Release();

    CTestApp app({"-Embedding"});
    ASSERT_TRUE(app.InitInstance());
    EXPECT_FALSE(MainFrame()->RegisterTypeLibrary(Path("good.tlb").c_str()));
}
