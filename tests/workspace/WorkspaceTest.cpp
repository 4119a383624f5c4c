// The workspace file without the application: its JSON both ways, damaged
// and newer files, the atomic save, and its records against the
// configuration file's.
#include "workspace/Workspace.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include <nlohmann/json.hpp>

#include "connections/BackgroundJob.h"
#include "connections/ConfigFile.h"
#include "connections/ConfigLoadJob.h"
#include "tests/support/FakeSerialServer.h"
#include "tests/support/FileLines.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ServerPin.h"
#include "tests/support/TempDir.h"
#include "transport/AutoModbus.h"
#include "transport/RemoteModbus.h"
#include "transport/TlsModbus.h"

bool operator==(const CWindowGeometry& a, const CWindowGeometry& b) {
    return std::tie(a.x, a.y, a.nWidth, a.nHeight, a.state) ==
           std::tie(b.x, b.y, b.nWidth, b.nHeight, b.state);
}

bool operator==(const CWorkspaceConnection& a, const CWorkspaceConnection& b) {
    return std::tie(a.strName, a.nType, a.record) == std::tie(b.strName, b.nType, b.record);
}

bool operator==(const CWorkspaceWindow& a, const CWorkspaceWindow& b) {
    return std::tie(a.strConnection, a.strDevice, a.nReadFunction, a.strAddress, a.strQuantity,
                    a.nDataType, a.nWriteFunction, a.strWriteAddress, a.strWriteValue,
                    a.strInterval, a.bPolling, a.bLogging, a.strLogFile, a.bChart, a.geometry) ==
           std::tie(b.strConnection, b.strDevice, b.nReadFunction, b.strAddress, b.strQuantity,
                    b.nDataType, b.nWriteFunction, b.strWriteAddress, b.strWriteValue,
                    b.strInterval, b.bPolling, b.bLogging, b.strLogFile, b.bChart, b.geometry);
}

bool operator==(const CWorkspace& a, const CWorkspace& b) {
    return a.mainWindow == b.mainWindow && a.connections == b.connections &&
           a.windows == b.windows && a.traffic.bOpen == b.traffic.bOpen &&
           a.traffic.strConnection == b.traffic.strConnection &&
           a.traffic.bPaused == b.traffic.bPaused && a.traffic.geometry == b.traffic.geometry;
}

namespace {

using Json = nlohmann::ordered_json;

// Serial records are served by the fake only.
class Workspace : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_FALSE(m_strDir.empty());
    }
    void TearDown() override { CoUninitialize(); }

    // One record of every kind, every setting away from its default; the
    // host kinds towards a closed port, the serial one's TCP server running.
    std::vector<CWorkspaceConnection> EveryKind() {
        CFakeServerRegistration reg(m_server, CLSCTX_LOCAL_SERVER);
        CConnections c;
        for (WORD nType = CONNECTION_OPEN_MODBUS; nType <= CONNECTION_TLS; ++nType) {
            CConnection* p = c.Add("host " + std::to_string(nType), nType);
            p->m_strReserved = "r" + std::to_string(nType);
            CRemoteModbus* m = p->GetRemoteModbus();
            m->m_nTries = 3;
            m->m_bThrowOnError = TRUE;
            m->m_dwReserved = 0xFFFFFFFF;
            m->SetReconnect(TRUE);
            m->SetHost("plc.invalid");
            m->SetPort(65535);
            m->SetTimeout(1);
            m->m_bMapServerErrors = FALSE;
            m->m_byServerErrorBase = 0xFF;
            if (auto* pTls = dynamic_cast<CTlsModbus*>(m)) {
                pTls->SetCaFile("/etc/ca.pem");
                pTls->SetCertFile("c\u00e9rt \"1\".pem");
                pTls->SetKeyFile("");
            }
        }
        CConnection* p = c.Add("serial", CONNECTION_LOCAL_DCOM);
        EXPECT_EQ(p->GetAutoModbus()->Create("", "com4"), S_OK);
        m_server.m_nPort = 4;
        m_server.m_nBaudRate = 115200;
        m_server.m_nParity = 2;
        m_server.m_nStopBits = 2;
        m_server.m_nErrorDelay = 250;
        m_server.m_tcp.m_strAddress = "127.0.0.1";
        m_server.m_tcp.m_nPort = 1502;
        m_server.m_tcp.m_bRunning = true;
        std::vector<CWorkspaceConnection> records = WorkspaceConnectionsOf(c);
        p->GetAutoModbus()->ReleaseServer();
        // Kinds 2 to 5, then the serial one, whatever the collection's order.
        std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
            return (a.nType + 3) % 5 < (b.nType + 3) % 5;
        });
        return records;
    }

    // A workspace with every field set and every window state.
    CWorkspace Full() {
        CWorkspace ws;
        ws.mainWindow = {-20, 30, 1280, 800, EWindowState::MAXIMISED};
        ws.connections = EveryKind();
        for (int i = 0; i < 3; ++i) {
            CWorkspaceWindow w;
            w.strConnection = i == 2 ? "" : "host " + std::to_string(2 + i);
            w.strDevice = "1" + std::to_string(i);
            w.nReadFunction = i + 2;
            w.strAddress = "0x" + std::to_string(i);
            w.strQuantity = " 7";
            w.nDataType = 30 + i;
            w.nWriteFunction = i % 2;
            w.strWriteAddress = "12";
            w.strWriteValue = "-1.5e3";
            w.strInterval = "250";
            w.bPolling = i != 1;
            w.bLogging = i == 1;
            w.strLogFile = i == 1 ? "/tmp/log \u00fc.csv" : "";
            w.bChart = i == 0;
            w.geometry = {i * 10, i * 20, 400 + i, 300 + i, static_cast<EWindowState>(i)};
            ws.windows.push_back(w);
        }
        ws.traffic = {true, "serial", true, {5, 6, 700, 500, EWindowState::MINIMISED}};
        return ws;
    }

    CTempDir m_runtime;
    CScopedEnv m_runtimeVar{RPC_RUNTIME_DIR_VARIABLE, m_runtime.Path().c_str()};
    CServerPin m_noServer;
    CFakeSerialServer m_server;
    CTempDir m_dir;
    const CString m_strDir = m_dir.Path();
    const CString m_strPath = m_strDir + "/day.rpw";
};

TEST_F(Workspace, EveryFieldComesBackAsItWent) {
    const CWorkspace ws = Full();
    ASSERT_EQ(ws.connections.size(), 5u);
    const std::string strText = WorkspaceToText(ws);
    EXPECT_EQ(strText.back(), '\n');
    CWorkspace read;
    CString strError;
    ASSERT_TRUE(WorkspaceFromText(strText, read, strError)) << strError;
    EXPECT_TRUE(read == ws);
    EXPECT_EQ(WorkspaceToText(read), strText);

    // The records by name, as the format describes them.
    const Json j = Json::parse(strText);
    EXPECT_EQ(j["format"], "regprobe-workspace");
    EXPECT_EQ(j["version"], 1);
    EXPECT_EQ(j["main_window"]["state"], "maximised");
    const Json& tls = j["connections"][3];
    EXPECT_EQ(tls["kind"], 5);
    EXPECT_EQ(tls["kind_label"], "Modbus/TCP Security");
    EXPECT_EQ(tls["port"], 65535);
    EXPECT_EQ(tls["throw_on_error"], true);
    EXPECT_EQ(tls["map_server_errors"], false);
    EXPECT_EQ(tls["cert_file"], "c\u00e9rt \"1\".pem");
    const Json& serial = j["connections"][4];
    EXPECT_EQ(serial["port_name"], "com4");
    EXPECT_EQ(serial["com_port"], 4);
    EXPECT_EQ(serial["baud_rate"], 115200);
    EXPECT_EQ(serial["tcp_server"]["enabled"], true);
    EXPECT_EQ(serial["tcp_server"]["port"], 1502);
    EXPECT_EQ(j["windows"][0]["data_type"], "float64-cdab");
    EXPECT_EQ(j["windows"][1]["read_function"], "coils");
    EXPECT_EQ(j["windows"][1]["write_function"], "coil");
    EXPECT_EQ(j["windows"][2]["geometry"]["state"], "minimised");
}

TEST_F(Workspace, KeysOfALaterVersionOneAreIgnored) {
    Json j = Json::parse(WorkspaceToText(Full()));
    j["comment"] = "added later";
    j["windows"][0]["colour"] = "red";
    j["connections"][0]["proxy"] = {{"host", "x"}};
    CWorkspace read;
    CString strError;
    ASSERT_TRUE(WorkspaceFromText(j.dump(), read, strError)) << strError;
    EXPECT_TRUE(read == Full());
}

// Record bytes through JSON and back, for values the dialogs never set
// (a BOOL of 2, the TCP server's flag of 1) as well.
class RecordBytes : public Workspace, public testing::WithParamInterface<WORD> {};

TEST_P(RecordBytes, ComeBackByteForByte) {
    const WORD nType = GetParam();
    std::vector<CWorkspaceConnection> records = EveryKind();
    CWorkspaceConnection c = records[nType == CONNECTION_LOCAL_DCOM ? 4 : nType - 2];
    ASSERT_EQ(c.nType, nType);
    CWorkspace ws;
    ws.connections = {c};
    // throw_on_error sits after the reserved text and tries.
    const size_t nBool = 1 + c.record[0] + 2;
    c.record[nBool] = 2;
    if (nType == CONNECTION_LOCAL_DCOM) {
        // The flag's WORD sits before the address text and the port's DWORD.
        const size_t nFlag = c.record.size() - 4 - 1 - 9 - 2;
        c.record[nFlag] = 1;
        c.record[nFlag + 1] = 0;
    }
    ws.connections.push_back(c);
    ws.connections.back().strName = "odd";
    CWorkspace read;
    CString strError;
    ASSERT_TRUE(WorkspaceFromText(WorkspaceToText(ws), read, strError)) << strError;
    ASSERT_EQ(read.connections.size(), 2u);
    EXPECT_EQ(read.connections[0].record, ws.connections[0].record);
    EXPECT_EQ(read.connections[1].record, c.record);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RecordBytes,
                         testing::Values(CONNECTION_LOCAL_DCOM, CONNECTION_OPEN_MODBUS,
                                         CONNECTION_RTU_OVER_TCP, CONNECTION_UDP, CONNECTION_TLS),
                         [](const testing::TestParamInfo<WORD>& info) {
                             return "Kind" + std::to_string(info.param);
                         });

// The image of a workspace's records is the configuration file itself, and
// loads as it does: the host records connect.
TEST_F(Workspace, RecordsLoadAsFromTheConfigurationFile) {
    CListener listener;
    CConnections c;
    for (WORD nType : {CONNECTION_OPEN_MODBUS, CONNECTION_RTU_OVER_TCP}) {
        CRemoteModbus* m = c.Add("dev" + std::to_string(nType), nType)->GetRemoteModbus();
        m->SetHost("127.0.0.1");
        m->SetPort(listener.Port());
        m->SetTimeout(900);
    }
    const std::vector<CWorkspaceConnection> records = WorkspaceConnectionsOf(c);
    EXPECT_LT(listener.Accept(200), 0);  // taking the records connects nothing
    const CString strConfig = m_strDir + "/Regpr.cfg";
    ASSERT_TRUE(SaveConnections(c, strConfig));
    const std::string strFile = FileText(strConfig);
    EXPECT_EQ(ConfigImageOf(records), CByteArray(strFile.begin(), strFile.end()));
    for (int i = 0; i < 2; ++i) {
        ASSERT_GE(listener.Accept(), 0);  // the save's reconnections
    }

    CConnections fromFile;
    CConnections fromImage;
    ASSERT_TRUE(LoadConnections(fromFile, strConfig));
    ASSERT_TRUE(LoadConnections(fromImage, ConfigImageOf(records), m_strPath));
    EXPECT_EQ(WorkspaceConnectionsOf(fromImage), WorkspaceConnectionsOf(fromFile));
    EXPECT_EQ(WorkspaceConnectionsOf(fromImage), records);
    fromImage.ForEach([](const CString& strName, CConnection* p) {
        EXPECT_TRUE(p->GetRemoteModbus()->IsConnected()) << strName;
    });

    CConnections one;
    CString strError;
    CConnection* p = LoadConnection(one, ConfigImageOf(records), m_strPath, "dev3", &strError);
    ASSERT_NE(p, nullptr) << strError;
    EXPECT_EQ(p->GetType(), CONNECTION_RTU_OVER_TCP);
    EXPECT_EQ(one.GetCount(), 1u);
    CConnections none;
    EXPECT_EQ(LoadConnection(none, ConfigImageOf(records), m_strPath, "none", &strError), nullptr);
    EXPECT_EQ(strError, "no connection named none in " + m_strPath);
}

// The background load of the application's Load command, from an image: the
// records replace the collection's, and a damaged image is told by the
// workspace's name with the records before the fault kept.
TEST_F(Workspace, TheBackgroundLoadTakesAnImage) {
    CListener listener;
    CConnections source;
    for (const char* pszName : {"a", "b"}) {
        CRemoteModbus* m = source.Add(pszName, CONNECTION_OPEN_MODBUS)->GetRemoteModbus();
        m->SetHost("127.0.0.1");
        m->SetPort(listener.Port());
    }
    const std::vector<CWorkspaceConnection> records = WorkspaceConnectionsOf(source);
    CByteArray cut = ConfigImageOf(records);
    cut.resize(cut.size() - 1);
    const auto load = [&](const CByteArray& image, CConnections& into, CString& strError) {
        auto pLoad = std::make_shared<CConfigLoadJob>(into, image, m_strPath);
        auto pJob = CBackgroundJob::Start([pLoad](CBackgroundJob& job) { pLoad->Run(job); });
        for (int i = 0; i < 500 && !pJob->IsDone(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(pJob->IsDone());
        return pLoad->Finish(into, &strError);
    };
    CConnections c;
    c.Add("old", CONNECTION_UDP);
    CString strError;
    EXPECT_TRUE(load(ConfigImageOf(records), c, strError)) << strError;
    EXPECT_EQ(WorkspaceConnectionsOf(c), records);

    CConnections damaged;
    EXPECT_FALSE(load(cut, damaged, strError));
    EXPECT_EQ(strError, m_strPath +
                            " is damaged at record 2 of 2: Unexpected end of file; the "
                            "connections before it were loaded");
    EXPECT_EQ(damaged.GetCount(), 1u);
}

struct CDamage {
    const char* pszName;
    std::function<void(Json&)> edit;  // null: the text below instead
    const char* pszText;
    const char* pszError;  // the whole message, or its start for the parser's own
};

class DamagedFile : public Workspace, public testing::WithParamInterface<CDamage> {};

TEST_P(DamagedFile, IsRefusedNamingThePlace) {
    const CDamage& d = GetParam();
    std::string strText = d.pszText != nullptr ? d.pszText : "";
    if (d.edit) {
        Json j = Json::parse(WorkspaceToText(Full()));
        d.edit(j);
        strText = j.dump(2);
    }
    const CWorkspace before = Full();
    CWorkspace ws = before;
    CString strError;
    EXPECT_FALSE(WorkspaceFromText(strText, ws, strError));
    // What the parser says after the place is its own.
    const bool bParser = d.pszText != nullptr && std::string(d.pszName) == "BadJson";
    EXPECT_EQ(bParser ? strError.substr(0, std::strlen(d.pszError)) : strError, d.pszError);
    EXPECT_TRUE(ws == before);

    // From the disk the file is named first.
    std::ofstream(m_strPath) << strText;
    EXPECT_FALSE(LoadWorkspace(m_strPath, ws, strError));
    EXPECT_EQ(
        bParser ? strError.substr(0, m_strPath.size() + 2 + std::strlen(d.pszError)) : strError,
        m_strPath + ": " + d.pszError);
    EXPECT_TRUE(ws == before);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedFile,
    testing::Values(
        CDamage{"BadJson", nullptr, "{\n  \"format\": \"regprobe-workspace\",\n  oops\n}",
                "line 3, column 3: syntax error while parsing object key"},
        CDamage{"HugeNumber", nullptr, "{\n  \"version\": 1,\n  \"x\": -1e999\n}",
                "line 3, column 8: number overflow parsing '-1e999'"},
        CDamage{"NoFormat", [](Json& j) { j.erase("format"); }, nullptr,
                "not a Regprobe workspace: \"format\" is not \"regprobe-workspace\""},
        CDamage{"OtherFormat", [](Json& j) { j["format"] = "other"; }, nullptr,
                "not a Regprobe workspace: \"format\" is not \"regprobe-workspace\""},
        CDamage{"NewerVersion", [](Json& j) { j["version"] = 3; }, nullptr,
                "version 3 is newer than this program reads (1)"},
        CDamage{"VersionZero", [](Json& j) { j["version"] = 0; }, nullptr,
                "version: 0 is not a workspace version"},
        CDamage{"QuantityNumber", [](Json& j) { j["windows"][2]["quantity"] = 5; }, nullptr,
                "windows[2].quantity: a text is expected"},
        CDamage{"PollingText", [](Json& j) { j["windows"][0]["polling"] = "yes"; }, nullptr,
                "windows[0].polling: true or false is expected"},
        CDamage{"UnknownFunction", [](Json& j) { j["windows"][1]["read_function"] = "holdings"; },
                nullptr,
                "windows[1].read_function: unknown read function 'holdings': one of loopback, "
                "holding, input-registers, coils, inputs"},
        CDamage{"UnknownType", [](Json& j) { j["windows"][0]["data_type"] = "int24"; }, nullptr,
                "windows[0].data_type: unknown data type 'int24': one of char, int16, uint16, "
                "float, float-reverse, double, double-reverse, int32-abcd, int32-cdab, "
                "int32-badc, int32-dcba, uint32-abcd, uint32-cdab, uint32-badc, uint32-dcba, "
                "float32-abcd, float32-cdab, float32-badc, float32-dcba, hex16, bin16, "
                "int64-abcd, int64-cdab, int64-badc, int64-dcba, uint64-abcd, uint64-cdab, "
                "uint64-badc, uint64-dcba, float64-abcd, float64-cdab, float64-badc, "
                "float64-dcba"},
        CDamage{"UnknownWriteFunction",
                [](Json& j) { j["windows"][0]["write_function"] = "registers"; }, nullptr,
                "windows[0].write_function: unknown write function 'registers': one of "
                "register, coil"},
        CDamage{"UnknownState", [](Json& j) { j["traffic"]["geometry"]["state"] = "full-screen"; },
                nullptr,
                "traffic.geometry.state: unknown window state 'full-screen': one of normal, "
                "maximised, minimised"},
        CDamage{"PortTooLarge", [](Json& j) { j["connections"][1]["port"] = 65536; }, nullptr,
                "connections[1].port: 65536 is out of range (0 to 65535)"},
        CDamage{"BaseNegative", [](Json& j) { j["connections"][0]["server_error_base"] = -1; },
                nullptr, "connections[0].server_error_base: -1 is out of range (0 to 255)"},
        CDamage{"TimeoutHuge",
                [](Json& j) { j["connections"][2]["timeout_ms"] = 18446744073709551615ULL; },
                nullptr,
                "connections[2].timeout_ms: 18446744073709551615 is out of range (0 to "
                "4294967295)"},
        CDamage{"BaudRateFraction", [](Json& j) { j["connections"][4]["baud_rate"] = 9600.5; },
                nullptr, "connections[4].baud_rate: a whole number is expected"},
        CDamage{"FlagTooLarge",
                [](Json& j) { j["connections"][4]["tcp_server"]["enabled"] = 65536; }, nullptr,
                "connections[4].tcp_server.enabled: 65536 is out of range (0 to 65535)"},
        CDamage{"TcpPortMissing", [](Json& j) { j["connections"][4]["tcp_server"].erase("port"); },
                nullptr, "connections[4].tcp_server.port: missing"},
        CDamage{"UnknownKind", [](Json& j) { j["connections"][0]["kind"] = 6; }, nullptr,
                "connections[0].kind: 6 is out of range (1 to 5)"},
        CDamage{"SameName", [](Json& j) { j["connections"][2]["name"] = "host 2"; }, nullptr,
                "connections[2].name: a second connection named host 2"},
        CDamage{"WindowsNotAList", [](Json& j) { j["windows"] = Json::object(); }, nullptr,
                "windows: a list is expected"},
        CDamage{"NoTraffic", [](Json& j) { j.erase("traffic"); }, nullptr, "traffic: missing"}),
    [](const testing::TestParamInfo<CDamage>& info) { return info.param.pszName; });

TEST_F(Workspace, FileTooLargeIsNotRead) {
    CWorkspace ws;
    CString strError;
    ASSERT_TRUE(SaveWorkspace(ws, m_strPath, strError));
    ASSERT_EQ(::truncate(m_strPath.c_str(), 16 * 1024 * 1024 + 1), 0);
    EXPECT_FALSE(LoadWorkspace(m_strPath, ws, strError));
    EXPECT_EQ(strError, m_strPath + ": larger than a workspace can be (16 MiB)");
    EXPECT_FALSE(LoadWorkspace(m_strDir + "/none.rpw", ws, strError));
    EXPECT_EQ(strError, "Cannot open " + m_strDir + "/none.rpw: No such file or directory");
}

TEST_F(Workspace, SaveKeepsTheModeAndTheOldFileOnFailure) {
    const CWorkspace ws = Full();
    CString strError;
    ASSERT_TRUE(SaveWorkspace(CWorkspace(), m_strPath, strError)) << strError;
    ASSERT_EQ(::chmod(m_strPath.c_str(), 0600), 0);
    ASSERT_TRUE(SaveWorkspace(ws, m_strPath, strError)) << strError;
    struct stat st {};
    ASSERT_EQ(::stat(m_strPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    const std::string strSaved = FileText(m_strPath);
    EXPECT_EQ(strSaved, WorkspaceToText(ws));
    CWorkspace read;
    ASSERT_TRUE(LoadWorkspace(m_strPath, read, strError)) << strError;
    EXPECT_TRUE(read == ws);

    // A write error part-way: the file size limit stops the save.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool bSaved = SaveWorkspace(CWorkspace(), m_strPath, strError);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(bSaved);
    EXPECT_EQ(strError, m_strPath + ".saving: File too large");
    EXPECT_EQ(FileText(m_strPath), strSaved);

    // A directory where the file goes: the rename fails.
    const CString strDirPath = m_strDir + "/sub.rpw";
    ASSERT_EQ(::mkdir(strDirPath.c_str(), 0700), 0);
    EXPECT_FALSE(SaveWorkspace(ws, strDirPath, strError));
    EXPECT_EQ(strError, strDirPath + ": Is a directory");

    // A directory that cannot be written to (root may write anywhere).
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(m_strDir.c_str(), 0500), 0);
        EXPECT_FALSE(SaveWorkspace(ws, m_strPath, strError));
        ::chmod(m_strDir.c_str(), 0700);
        EXPECT_EQ(strError, m_strPath + ".saving: Permission denied");
        EXPECT_EQ(FileText(m_strPath), strSaved);
    }
}

}  // namespace
