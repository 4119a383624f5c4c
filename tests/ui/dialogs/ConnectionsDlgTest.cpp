// Connections: the list mirrors the collection through adds of either kind,
// removals, saving and loading "Regpr.cfg" in the current directory, and the
// failures of both.
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "DialogTestSupport.h"
#include "connections/Connections.h"
#include "connections/dialogs/ConnectionsDlg.h"
#include "platform/com/ComApi.h"
#include "res/Resource.h"
#include "transport/AutoModbus.h"
#include "transport/RemoteModbus.h"

namespace {
class ConnectionsDlg : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_TRUE(m_sim.m_bStarted);
        ASSERT_NE(::mkdtemp(m_szDir), nullptr);
        m_oldDir = std::filesystem::current_path();
        std::filesystem::current_path(m_szDir);
        ASSERT_TRUE(m_dlg.Create());
    }
    void TearDown() override {
        theConnections.RemoveAll();
        std::filesystem::current_path(m_oldDir);
        ::chmod(m_szDir, 0700);
        std::error_code ec;
        std::filesystem::remove_all(m_szDir, ec);
        CoUninitialize();
    }

    // Adds an Open Modbus connection to the simulator through the dialogs.
    void AddOpenModbus(const CString& strPort) {
        ASSERT_TRUE(Choose(&m_dlg, IDC_COMBO_TYPE, "Open Modbus"));
        WhenDialog("Remote Server Connection", [strPort](CDialog* pDlg) {
            SetText(pDlg, IDC_EDIT_ADDRESS, "127.0.0.1");
            SetText(pDlg, IDC_EDIT_PORT, strPort.c_str());
            SetText(pDlg, IDC_EDIT_TIMEOUT, "2000");
            Click(pDlg, IDC_OK_BUTTON);
        });
        Click(&m_dlg, IDC_BUTTON_ADD);
    }
    void Select(const CString& strName) {
        auto* pList = Ctl<QListWidget>(&m_dlg, IDC_LIST_CONNECTIONS);
        auto items = pList->findItems(QString::fromStdString(strName), Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1);
        pList->setCurrentItem(items[0]);
    }
    std::vector<CString> Lines() { return ::Lines(&m_dlg, IDC_LIST_CONNECTIONS); }
    std::string ReadConfig() {
        std::ifstream in("Regpr.cfg", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    CTcpSim m_sim;
    CScriptedBoxes m_boxes;
    char m_szDir[40] = "/tmp/regprobe-cfgdlg-XXXXXX";
    std::filesystem::path m_oldDir;
    CConnectionsDlg m_dlg;
};

TEST_F(ConnectionsDlg, AddsOfEitherKindAndRemovals) {
    CSerialRig rig;
    ASSERT_TRUE(rig.m_bStarted) << rig.m_strError;
    EXPECT_EQ(Ctl<QComboBox>(&m_dlg, IDC_COMBO_TYPE)->currentText(), "Local/DCom");
    EXPECT_TRUE(Lines().empty());

    // Cancelled: nothing, for either kind.
    WhenDialog("Communications Parameters", [](CDialog* pDlg) { Click(pDlg, IDCANCEL); });
    Click(&m_dlg, IDC_BUTTON_ADD);
    ASSERT_TRUE(Choose(&m_dlg, IDC_COMBO_TYPE, "Open Modbus"));
    WhenDialog("Remote Server Connection", [](CDialog* pDlg) { Click(pDlg, IDCANCEL); });
    Click(&m_dlg, IDC_BUTTON_ADD);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(theConnections.GetCount(), 0u);

    ASSERT_TRUE(Choose(&m_dlg, IDC_COMBO_TYPE, "Local/DCom"));
    WhenDialog("Communications Parameters", [](CDialog* pDlg) {
        SetText(pDlg, IDC_EDIT_TIMEOUT, "1000");
        SetText(pDlg, IDC_EDIT_SILENT_INTERVAL, "5");
        Click(pDlg, IDC_BUTTON_OK);
    });
    Click(&m_dlg, IDC_BUTTON_ADD);
    AddOpenModbus(m_sim.Port());
    const CString strTcp = "127.0.0.1:" + m_sim.Port();
    EXPECT_EQ(Lines(), (std::vector<CString>{strTcp, "com1"}));
    EXPECT_EQ(ConnectionNames(), (std::vector<CString>{strTcp, "com1"}));

    // Edit reaches the record's own dialog, which shows it.
    Select("com1");
    WhenDialog("Communications Parameters", [](CDialog* pDlg) {
        EXPECT_EQ(Ctl<QLineEdit>(pDlg, IDC_EDIT_TIMEOUT)->text(), "1000");
        Click(pDlg, IDCANCEL);
    });
    Click(&m_dlg, IDC_BUTTON_EDIT);

    m_boxes.m_answers = {IDNO, IDYES};
    Select("com1");
    Click(&m_dlg, IDC_BUTTON_REMOVE);
    EXPECT_EQ(Lines().size(), 2u);
    Click(&m_dlg, IDC_BUTTON_REMOVE);
    EXPECT_EQ(m_boxes.m_texts, std::vector<CString>(2, "Remove connection com1"));
    EXPECT_EQ(m_boxes.m_types, std::vector<UINT>(2, MB_YESNO));
    EXPECT_EQ(Lines(), std::vector<CString>{strTcp});
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{strTcp});
}

TEST_F(ConnectionsDlg, SaveThenLoadGivesTheNamesBackConnected) {
    AddOpenModbus(m_sim.Port());
    CTcpSim other;
    ASSERT_TRUE(other.m_bStarted);
    AddOpenModbus(other.Port());
    const std::vector<CString> names = ConnectionNames();
    ASSERT_EQ(names.size(), 2u);
    Click(&m_dlg, IDC_BUTTON_SAVE);
    EXPECT_TRUE(m_boxes.m_texts.empty());

    // A record added after saving goes with the load.
    theConnections.Add("extra", CONNECTION_OPEN_MODBUS);
    Click(&m_dlg, IDC_BUTTON_LOAD);
    EXPECT_TRUE(m_boxes.m_texts.empty());
    EXPECT_EQ(ConnectionNames(), names);
    EXPECT_EQ(Lines(), names);
    for (const CString& strName : names) {
        CConnection* pConnection = nullptr;
        ASSERT_TRUE(theConnections.Lookup(strName, pConnection));
        CRemoteModbus* pModbus = pConnection->GetRemoteModbus();
        EXPECT_TRUE(pModbus->IsConnected()) << strName;
        EXPECT_EQ(pModbus->GetTimeout(), 2000u);
        CWordArray values(1);
        EXPECT_EQ(pModbus->ReadOutputRegisters(1, 2, 1, values), 0);
        EXPECT_EQ(values[0], 33);
    }
}

TEST_F(ConnectionsDlg, FailedLoadsAreToldAndTheListFollowsTheCollection) {
    AddOpenModbus(m_sim.Port());
    const CString strTcp = "127.0.0.1:" + m_sim.Port();

    // No file: said so, and nothing is lost.
    Click(&m_dlg, IDC_BUTTON_LOAD);
    EXPECT_EQ(m_boxes.m_texts,
              std::vector<CString>{"Cannot open Regpr.cfg: No such file or directory"});
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{strTcp});
    EXPECT_EQ(Lines(), std::vector<CString>{strTcp});

    // Two records saved, the file cut inside the second.
    theConnections.Add("zz", CONNECTION_OPEN_MODBUS);
    Click(&m_dlg, IDC_BUTTON_SAVE);
    std::string bytes = ReadConfig();
    ASSERT_GT(bytes.size(), 10u);
    std::ofstream("Regpr.cfg", std::ios::binary | std::ios::trunc)
        << bytes.substr(0, bytes.size() - 3);
    m_boxes.m_texts.clear();
    Click(&m_dlg, IDC_BUTTON_LOAD);
    ASSERT_EQ(m_boxes.m_texts.size(), 1u);
    EXPECT_EQ(m_boxes.m_texts[0],
              "Regpr.cfg is damaged at record 2 of 2: Unexpected end of file; the connections "
              "before it were loaded");
    EXPECT_EQ(theConnections.GetCount(), 1u);
    EXPECT_EQ(Lines(), ConnectionNames());

    // A kind we never write.
    std::ofstream("Regpr.cfg", std::ios::binary | std::ios::trunc)
        << std::string("\x01\0\0\0\x03odd\x07\0\0", 10);
    m_boxes.m_texts.clear();
    Click(&m_dlg, IDC_BUTTON_LOAD);
    EXPECT_EQ(m_boxes.m_texts,
              std::vector<CString>{"Regpr.cfg is damaged at record 1 of 1: unknown "
                                   "connection kind 7; the connections before "
                                   "it were loaded"});
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(theConnections.GetCount(), 0u);
}

TEST_F(ConnectionsDlg, SaveIntoADirectoryWithoutWritePermissionKeepsTheOldFile) {
    Click(&m_dlg, IDC_BUTTON_SAVE);
    const std::string before = ReadConfig();
    ASSERT_EQ(before, std::string(4, '\0'));
    AddOpenModbus(m_sim.Port());
    ASSERT_EQ(::chmod(m_szDir, 0555), 0);
    // Root passes permission checks; file access as nobody does not.
    const uid_t oldFsuid = ::setfsuid(65534);
    Click(&m_dlg, IDC_BUTTON_SAVE);
    ::setfsuid(oldFsuid);
    EXPECT_EQ(m_boxes.m_texts,
              std::vector<CString>{"Connections not saved: Regpr.cfg: Permission denied"});
    EXPECT_EQ(ReadConfig(), before);
    EXPECT_EQ(theConnections.GetCount(), 1u);
}
}  // namespace
