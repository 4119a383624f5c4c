// Connections: the list mirrors the collection through adds of either kind,
// removals, saving and loading "Regpr.cfg" in the current directory, and the
// failures of both.
#include <sys/fsuid.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QListWidget>
#include <QProgressDialog>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "connections/ConfigFile.h"
#include "connections/Connections.h"
#include "connections/dialogs/CommParamsDlg.h"
#include "connections/dialogs/ConnectionsDlg.h"
#include "platform/UniqueFd.h"
#include "platform/com/ComApi.h"
#include "res/Resource.h"
#include "tests/support/FileLines.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/TempDir.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "transport/RemoteModbus.h"

namespace {
class ConnectionsDlg : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_NE(m_sim.m_nPort, 0);
        ASSERT_FALSE(m_dir.Path().empty());
        m_oldDir = std::filesystem::current_path();
        std::filesystem::current_path(m_dir.Path());
        ASSERT_TRUE(m_dlg.Create());
    }
    void TearDown() override {
        theConnections.RemoveAll();
        std::filesystem::current_path(m_oldDir);
        CoUninitialize();
    }

    // "&Add" of the kind; fill runs on the sub-dialog titled strTitle.
    void Add(const char* pszKind, const QString& strTitle, std::function<void(QWidget*)> fill) {
        Choose(&m_dlg, IDC_COMBO_TYPE, pszKind);
        WhenModal([this, strTitle, fill](QWidget* pDlg) {
            EXPECT_EQ(pDlg->windowTitle(), strTitle);
            EXPECT_EQ(pDlg->parentWidget(), &m_dlg);  // which it blocks
            fill(pDlg);
        });
        Click(&m_dlg, IDC_BUTTON_ADD);
    }
    void AddOpenModbus(const CString& strPort) {
        Add("Open Modbus", "Remote Server Connection", [strPort](QWidget* pDlg) {
            SetText(pDlg, IDC_EDIT_ADDRESS, "127.0.0.1");
            SetText(pDlg, IDC_EDIT_PORT, strPort);
            SetText(pDlg, IDC_EDIT_TIMEOUT, "2000");
            Click(pDlg, IDC_OK_BUTTON);
        });
    }
    void Select(const CString& strName) {
        auto* pList = Ctl<QListWidget>(&m_dlg, IDC_LIST_CONNECTIONS);
        auto items = pList->findItems(QString::fromStdString(strName), Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1);
        pList->setCurrentItem(items[0]);
    }
    std::vector<CString> Lines() { return ::Lines(&m_dlg, IDC_LIST_CONNECTIONS); }
    std::string ReadConfig() { return FileText("Regpr.cfg"); }
    void WriteConfig(const std::string& bytes) {
        std::ofstream("Regpr.cfg", std::ios::binary | std::ios::trunc) << bytes;
    }

    CTcpSim m_sim;
    CMessageBoxRecorder m_boxes;
    CTempDir m_dir;
    std::filesystem::path m_oldDir;
    CConnectionsDlg m_dlg;
};

TEST_F(ConnectionsDlg, AddsOfEitherKindEditAndRemove) {
    CSerialRig rig;
    ASSERT_FALSE(rig.m_strRemote.empty());
    EXPECT_EQ(Text(&m_dlg, IDC_COMBO_TYPE), "Local/DCom");
    Add("Local/DCom", "Communications Parameters", [](QWidget* p) { Click(p, IDCANCEL); });
    Add("Open Modbus", "Remote Server Connection", [](QWidget* p) { Click(p, IDCANCEL); });
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(theConnections.GetCount(), 0u);

    Add("Local/DCom", "Communications Parameters", [](QWidget* p) {
        SetText(p, IDC_EDIT_TIMEOUT, "1000");
        SetText(p, IDC_EDIT_SILENT_INTERVAL, "5");
        Click(p, IDC_BUTTON_OK);
    });
    AddOpenModbus(m_sim.Port());
    const std::vector<CString> names{"127.0.0.1:" + m_sim.Port(), "com1"};
    EXPECT_EQ(Lines(), names);
    EXPECT_EQ(ConnectionNames(), names);

    // Edit opens the record's own dialog on it.
    Select("com1");
    WhenModal([](QWidget* p) {
        // The settings come from the server off the GUI thread.
        auto* pComm = qobject_cast<CCommParamsDlg*>(p);
        ASSERT_NE(pComm, nullptr);
        EXPECT_TRUE(WaitFor([pComm] { return !pComm->IsConnecting(); }));
        EXPECT_EQ(Text(p, IDC_EDIT_TIMEOUT), "1000");
        Click(p, IDCANCEL);
    });
    Click(&m_dlg, IDC_BUTTON_EDIT);

    m_boxes.m_answers = {IDNO, IDYES};
    Click(&m_dlg, IDC_BUTTON_REMOVE);
    EXPECT_EQ(Lines(), names);
    Click(&m_dlg, IDC_BUTTON_REMOVE);
    EXPECT_EQ(m_boxes.Texts(), std::vector<CString>(2, "Remove connection com1"));
    EXPECT_EQ(m_boxes.m_boxes[0].nType, UINT(MB_YESNO));
    EXPECT_EQ(Lines(), std::vector<CString>{names[0]});
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{names[0]});
}

// The box lists every kind; each host-and-port kind opens the dialog under
// its own title for Add, and for Edit of a record of that kind.
TEST_F(ConnectionsDlg, EachKindOpensItsOwnDialog) {
    auto* pCombo = Ctl<QComboBox>(&m_dlg, IDC_COMBO_TYPE);
    std::vector<CString> kinds;
    for (int i = 0; i < pCombo->count(); ++i) {
        kinds.push_back(pCombo->itemText(i).toStdString());
    }
    EXPECT_EQ(kinds, (std::vector<CString>{"Local/DCom", "Open Modbus", "RTU over TCP",
                                           "Modbus/UDP", "Modbus/TCP Security"}));
    const std::pair<WORD, const char*> titles[] = {
        {CONNECTION_RTU_OVER_TCP, "RTU over TCP Connection"},
        {CONNECTION_UDP, "Modbus/UDP Connection"},
        {CONNECTION_TLS, "Modbus/TCP Security Connection"}};
    for (const auto& [nType, pszTitle] : titles) {
        Add(ConnectionTypeLabel(nType), pszTitle, [](QWidget* p) { Click(p, IDCANCEL); });
        theConnections.Add(pszTitle, nType);
        Ctl<QListWidget>(&m_dlg, IDC_LIST_CONNECTIONS)->addItem(pszTitle);  // as Load shows it
        Select(pszTitle);
        QString strTitle;
        WhenModal([&strTitle](QWidget* p) {
            strTitle = p->windowTitle();
            Click(p, IDCANCEL);
        });
        Click(&m_dlg, IDC_BUTTON_EDIT);
        EXPECT_EQ(strTitle.toStdString(), pszTitle);
    }
    EXPECT_EQ(theConnections.GetCount(), 3u);
}

TEST_F(ConnectionsDlg, SaveThenLoadGivesTheNamesBackConnected) {
    CTcpSim other;
    AddOpenModbus(m_sim.Port());
    AddOpenModbus(other.Port());
    const std::vector<CString> names = ConnectionNames();
    ASSERT_EQ(names.size(), 2u);
    Click(&m_dlg, IDC_BUTTON_SAVE);
    theConnections.Add("added later", CONNECTION_OPEN_MODBUS);
    Click(&m_dlg, IDC_BUTTON_LOAD);
    EXPECT_TRUE(m_boxes.m_boxes.empty());
    EXPECT_EQ(ConnectionNames(), names);
    EXPECT_EQ(Lines(), names);
    for (const CString& strName : names) {
        CConnection* pConnection = nullptr;
        ASSERT_TRUE(theConnections.Lookup(strName, pConnection));
        CRemoteModbus* pModbus = pConnection->GetRemoteModbus();
        EXPECT_TRUE(pModbus->IsConnected()) << strName;
        CWordArray values(1);
        EXPECT_EQ(pModbus->ReadOutputRegisters(1, 2, 1, values), 0);
        EXPECT_EQ(values[0], 33);
    }
}

TEST_F(ConnectionsDlg, FailedLoadsAreToldAndTheListFollowsTheCollection) {
    AddOpenModbus(m_sim.Port());
    // No file: said so, and nothing is lost.
    Click(&m_dlg, IDC_BUTTON_LOAD);
    EXPECT_EQ(m_boxes.Texts(),
              std::vector<CString>{"Cannot open Regpr.cfg: No such file or directory"});
    EXPECT_EQ(theConnections.GetCount(), 1u);
    EXPECT_EQ(Lines(), ConnectionNames());

    // Cut inside the second of two records: the first stays.
    theConnections.Add("zz", CONNECTION_OPEN_MODBUS);
    Click(&m_dlg, IDC_BUTTON_SAVE);
    const std::string bytes = ReadConfig();
    WriteConfig(bytes.substr(0, bytes.size() - 3));
    Click(&m_dlg, IDC_BUTTON_LOAD);
    EXPECT_EQ(m_boxes.Texts().back(),
              "Regpr.cfg is damaged at record 2 of 2: Unexpected end of file; the connections "
              "before it were loaded");
    EXPECT_EQ(theConnections.GetCount(), 1u);
    EXPECT_EQ(Lines(), ConnectionNames());

    // A kind we never write.
    WriteConfig(std::string("\x01\0\0\0\x03odd\x07\0", 10));
    Click(&m_dlg, IDC_BUTTON_LOAD);
    EXPECT_EQ(m_boxes.Texts().back(),
              "Regpr.cfg is damaged at record 1 of 1: unknown connection kind 7; the "
              "connections before it were loaded");
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(theConnections.GetCount(), 0u);
}

TEST_F(ConnectionsDlg, SaveIntoADirectoryWithoutWritePermissionKeepsTheOldFile) {
    Click(&m_dlg, IDC_BUTTON_SAVE);
    ASSERT_EQ(ReadConfig(), std::string(4, '\0'));
    AddOpenModbus(m_sim.Port());
    ASSERT_EQ(::chmod(".", 0555), 0);
    // Root passes permission checks; file access as nobody does not.
    const uid_t oldFsuid = ::setfsuid(65534);
    Click(&m_dlg, IDC_BUTTON_SAVE);
    ::setfsuid(oldFsuid);
    ::chmod(".", 0700);
    EXPECT_EQ(m_boxes.Texts(),
              std::vector<CString>{"Connections not saved: Regpr.cfg: Permission denied"});
    EXPECT_EQ(ReadConfig(), std::string(4, '\0'));
}
// Load connects off the GUI thread, one record after another, saying which;
// Cancel while a record hangs keeps the ones before it, and the hanging
// one's later success adds nothing.
TEST_F(ConnectionsDlg, LoadShowsEachRecordAndCancelKeepsThoseBefore) {
    CListener listener(0);
    for (const char* pszName : {"plc-1", "plc-2", "plc-hall-2"}) {
        CRemoteModbus* pModbus =
            theConnections.Add(pszName, CONNECTION_OPEN_MODBUS)->GetRemoteModbus();
        pModbus->SetHost("127.0.0.1");
        pModbus->SetPort(m_sim.m_nPort);
        pModbus->SetTimeout(20000);
        pModbus->SetReconnect(TRUE);
    }
    // Saving connects each record: the last one's connection fills the
    // listener's accept queue, and every later handshake there hangs.
    CConnection* pHanging = nullptr;
    ASSERT_TRUE(theConnections.Lookup("plc-hall-2", pHanging));
    pHanging->GetRemoteModbus()->SetPort(listener.Port());
    ASSERT_TRUE(SaveConnections(theConnections, "Regpr.cfg"));
    std::vector<CString> before;  // the records the file holds before it
    bool bReached = false;
    theConnections.ForEach([&](const CString& strName, CConnection*) {
        bReached = bReached || strName == "plc-hall-2";
        if (!bReached) {
            before.push_back(strName);
        }
    });
    theConnections.RemoveAll();
    const CString strHanging = std::to_string(before.size() + 1) + " of 3: plc-hall-2";

    std::chrono::steady_clock::time_point cancelled;
    QString strSeen;
    WhenModal([&](QWidget* pModal) {
        auto* pProgress = qobject_cast<QProgressDialog*>(pModal);
        ASSERT_NE(pProgress, nullptr);
        WaitFor([&] { return pProgress->labelText().toStdString() == strHanging; });
        strSeen = pProgress->labelText();
        Pump(std::chrono::milliseconds(200));
        cancelled = std::chrono::steady_clock::now();
        pProgress->cancel();
    });
    Click(&m_dlg, IDC_BUTTON_LOAD);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::milliseconds(100));
    EXPECT_EQ(strSeen.toStdString(), strHanging);
    std::sort(before.begin(), before.end());
    EXPECT_EQ(ConnectionNames(), before);
    EXPECT_EQ(Lines().size(), before.size());
    EXPECT_TRUE(m_boxes.Texts().empty());

    // Room in the queue: the hanging record connects on its retransmission.
    CUniqueFd first(listener.Accept());
    CUniqueFd late(listener.Accept(5000));
    ASSERT_TRUE(late.IsValid());
    Pump(std::chrono::milliseconds(300));
    EXPECT_EQ(ConnectionNames(), before);
    EXPECT_EQ(Lines().size(), before.size());
}
}  // namespace
