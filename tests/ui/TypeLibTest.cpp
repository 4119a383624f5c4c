// Type libraries from the main frame: the menu command with its two
// messages, and a registry that cannot be written.
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "tests/support/TypeLibFixture.h"
#include "tests/support/ui/UiTestSupport.h"

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
    CComPtr<ITypeLib> pLib;
    ASSERT_EQ(LoadTypeLib(MultiByteToWide(Path("good.tlb")).c_str(), &pLib), S_OK);
    EXPECT_EQ(RegisterTypeLib(pLib, MultiByteToWide(Path("good.tlb")).c_str(), nullptr),
              TYPE_E_REGISTRYACCESS);

    CTestApp app({"-Embedding"});
    ASSERT_TRUE(app.InitInstance());
    EXPECT_FALSE(MainFrame()->RegisterTypeLibrary(Path("good.tlb").c_str()));
}
