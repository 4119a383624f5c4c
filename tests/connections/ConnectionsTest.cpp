#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "connections/ConfigFile.h"
#include "platform/Archive.h"
#include "platform/com/rpc/RpcFrame.h"
#include "tests/support/ConnectionNames.h"
#include "tests/support/FakeSerialServer.h"
#include "tests/support/FileLines.h"
#include "tests/support/GreetingServer.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/Serialized.h"
#include "tests/support/ServerPin.h"
#include "tests/support/TempDir.h"
#include "transport/AutoModbus.h"
#include "transport/RemoteModbus.h"
#include "transport/RtuOverTcpModbus.h"
#include "transport/TlsModbus.h"
#include "transport/UdpModbus.h"

namespace {

// Loads as the Load command does: an early end keeps what was read.
void Load(CConnections& c, const CByteArray& bytes) {
    CMemFile file(bytes);
    CArchive ar(&file, CArchive::load);
    try {
        c.Serialize(ar);
    } catch (CException* e) {
        e->Delete();
    }
}

CByteArray Counted(const CString& s) {
    CByteArray b{static_cast<BYTE>(s.size())};
    b.insert(b.end(), s.begin(), s.end());
    return b;
}

// Serial connections are served by the fakes only: no server runs in the
// runtime directory, and none can be started.
class Connections : public testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override { CoUninitialize(); }

    CTempDir m_runtime;
    CScopedEnv m_runtimeVar{RPC_RUNTIME_DIR_VARIABLE, m_runtime.Path().c_str()};
    CServerPin m_noServer;
};

TEST_F(Connections, RecordsOwnTheirMasters) {
    CConnections c;
    CConnection* a = c.Add("plc", CONNECTION_OPEN_MODBUS);
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a->GetRemoteModbus(), nullptr);
    EXPECT_EQ(a->GetAutoModbus(), nullptr);
    EXPECT_EQ(c.Add("plc", CONNECTION_LOCAL_DCOM), nullptr);  // taken
    CConnection* b = c.Add("PLC", CONNECTION_LOCAL_DCOM);     // names are case-sensitive
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b->GetAutoModbus(), nullptr);
    EXPECT_EQ(b->GetRemoteModbus(), nullptr);
    EXPECT_EQ(c.GetCount(), 2u);
    CConnection* found = nullptr;
    EXPECT_TRUE(c.Lookup("PLC", found));
    EXPECT_EQ(found, b);
    c.Remove("absent");
    c.Remove("plc");
    EXPECT_FALSE(c.Lookup("plc", found));
    c.RemoveAll();
    EXPECT_TRUE(c.IsEmpty());
}

TEST_F(Connections, IterationFollowsTheHashBuckets) {
    // Computed here independently: bucket = (33 * h + signed byte) % 17.
    auto bucket = [](const CString& s) {
        std::uint32_t h = 0;
        for (char ch : s) {
            h = 33 * h +
                static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(ch)));
        }
        return h % 17;
    };
    const std::vector<CString> inserted = {
        "com1",   "COM1", "Boiler", "line 2", "a",  "b",       "c", "\xC3\xA9t\xC3\xA9",
        "pump-7", "x",    "y",      "z",      "zz", "Turbine", "q", "r",
        "s",      "t",    "u",      "v"};
    CConnections c;
    for (const CString& n : inserted) {
        ASSERT_NE(c.Add(n, CONNECTION_OPEN_MODBUS), nullptr);
    }
    std::map<UINT, std::vector<CString>> buckets;
    for (const CString& n : inserted) {
        auto& chain = buckets[bucket(n)];
        chain.insert(chain.begin(), n);  // the newest first
    }
    std::vector<CString> expected;
    for (auto& [b, chain] : buckets) {
        expected.insert(expected.end(), chain.begin(), chain.end());
    }
    EXPECT_EQ(ConnectionNames(c), expected);
    EXPECT_EQ(HashKey("\xFF"), 0xFFFFFFFFu);  // characters are signed bytes
}

TEST_F(Connections, GoldenBytes) {
    // The fake outlives the collection that holds its references.
    CFakeSerialServer server;
    CFakeServerRegistration reg(server, CLSCTX_LOCAL_SERVER);
    CConnections c;
    EXPECT_EQ(Stored(c), (CByteArray{0, 0, 0, 0}));
    Load(c, {0, 0, 0, 0});
    EXPECT_TRUE(c.IsEmpty());
    Load(c, {0xFF, 0xFF, 0xFF, 0xFF});  // a negative count means none
    EXPECT_TRUE(c.IsEmpty());

    c.Add("plc", CONNECTION_OPEN_MODBUS);
    CByteArray expected{
        1,    0,    0, 0, 3, 'p',  'l',  'c', 2,   0, 0,  // count, name, kind, reserved
        1,    0,    0, 0, 0, 0,    0,    0,   0,   0,     // tries, throw, reserved word
        0,    0,    0, 0, 0, 0xF6, 0x01,                  // reconnect, host, port
        0x10, 0x27, 0, 0, 1, 0,    0,    0,   0x80};      // time-out, map, base
    EXPECT_EQ(Stored(c), expected);
    c.RemoveAll();

    CConnection* p = c.Add("line", CONNECTION_LOCAL_DCOM);
    ASSERT_EQ(p->GetAutoModbus()->Create("", "com5"), S_OK);
    server.m_nBaudRate = 115200;
    // The master's own record, laid out byte by byte in AutoModbusTest,
    // after the connection's count, name and kind.
    const CByteArray local = Stored(c);
    EXPECT_EQ(CByteArray(local.begin(), local.begin() + 12),
              (CByteArray{1, 0, 0, 0, 4, 'l', 'i', 'n', 'e', 1, 0, 0}));
    EXPECT_EQ(CByteArray(local.begin() + 12, local.end()), Stored(*p->GetAutoModbus()));
    EXPECT_EQ(local[60], 0x00);  // baud rate 115200
    EXPECT_EQ(local[61], 0xC2);
    // Values changed by another client of the server are what is saved.
    server.m_nBaudRate = 9600;
    CByteArray again = Stored(c);
    EXPECT_EQ(again[60], 0x80);  // baud rate 9600
    EXPECT_EQ(again[61], 0x25);
}

TEST_F(Connections, LongNamesAndUtf16Names) {
    CConnections c;
    for (size_t n : {254, 255, 65533, 65534, 70000}) {
        CString name(n, 'n');
        name[0] = static_cast<char>('0' + n % 10);
        ASSERT_NE(c.Add(name, CONNECTION_OPEN_MODBUS), nullptr);
    }
    c.Add("com1", CONNECTION_OPEN_MODBUS);
    c.Add("COM1", CONNECTION_OPEN_MODBUS);
    CByteArray bytes = Stored(c);
    CConnections loaded;
    Load(loaded, bytes);
    std::vector<CString> expected = ConnectionNames(c), got = ConnectionNames(loaded);
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_TRUE(got == expected);  // (no printing of 70000-character names)
    // Loading inserts in saved order, which reverses names that share a
    // bucket; a second round trip restores the first file exactly.
    CConnections twice;
    Load(twice, Stored(loaded));
    EXPECT_TRUE(Stored(twice) == bytes);

    // A name in the UTF-16 form comes back as UTF-8.
    CByteArray utf16{1, 0, 0, 0, 0xFF, 0xFE, 0xFF, 2, 'p', 0, 0xE9, 0, 2, 0, 0};
    CByteArray master(26, 0);
    master[0] = 1;  // tries; the rest zeros and an empty host
    utf16.insert(utf16.end(), master.begin(), master.end());
    CConnections u;
    Load(u, utf16);
    CConnection* p = nullptr;
    EXPECT_TRUE(u.Lookup("p\xC3\xA9", p));
}

TEST_F(Connections, FilesThatAreNotOurs) {
    CConnections src;
    src.Add("a", CONNECTION_OPEN_MODBUS);
    CByteArray one = Stored(src);
    CByteArray record(one.begin() + 4, one.end());

    // Unknown kind second (6, the first after ours): the first stays,
    // loading stops there.
    CByteArray bytes{3, 0, 0, 0};
    bytes.insert(bytes.end(), record.begin(), record.end());
    CByteArray odd = Counted("odd");
    bytes.insert(bytes.end(), odd.begin(), odd.end());
    bytes.insert(bytes.end(), {6, 0, 0});
    bytes.insert(bytes.end(), record.begin(), record.end());
    CConnections c;
    Load(c, bytes);
    EXPECT_EQ(ConnectionNames(c), std::vector<CString>{"a"});

    // The same name twice: the first wins, loading stops.
    CByteArray twice{2, 0, 0, 0};
    twice.insert(twice.end(), record.begin(), record.end());
    twice.insert(twice.end(), record.begin(), record.end());
    CConnections d;
    Load(d, twice);
    EXPECT_EQ(d.GetCount(), 1u);

    // A count far beyond what the file holds ends at the file's end.
    CByteArray huge{0xFF, 0xFF, 0xFF, 0x7F};
    huge.insert(huge.end(), record.begin(), record.end());
    CConnections e;
    Load(e, huge);
    EXPECT_EQ(e.GetCount(), 1u);
}

// Each host-and-port kind is an Open Modbus record under its own kind, the
// Modbus/TCP Security one followed by its three files; the kind brings its
// own master and default port, and loading gives back the file's bytes.
class ConnectionKinds : public Connections, public testing::WithParamInterface<WORD> {
protected:
    // Settings that differ from every default, towards a closed port.
    static void Configure(CRemoteModbus& m, WORD nPort) {
        m.m_nTries = 3;
        m.m_bMapServerErrors = FALSE;
        m.m_byServerErrorBase = 0x90;
        m.SetHost("127.0.0.1");
        m.SetPort(nPort);
        m.SetTimeout(700);
    }
};

TEST_P(ConnectionKinds, SavedAndLoadedWithTheirOwnFields) {
    const WORD nType = GetParam();
    WORD nClosed = 0;
    ::close(ListenLoopback(-1, &nClosed));

    CConnections c;
    CConnection* p = c.Add("dev", nType);
    CRemoteModbus* m = p->GetRemoteModbus();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(p->GetAutoModbus(), nullptr);
    const std::type_info& kind = nType == CONNECTION_RTU_OVER_TCP ? typeid(CRtuOverTcpModbus)
                                 : nType == CONNECTION_UDP        ? typeid(CUdpModbus)
                                 : nType == CONNECTION_TLS        ? typeid(CTlsModbus)
                                                                  : typeid(CRemoteModbus);
    EXPECT_TRUE(typeid(*m) == kind);
    EXPECT_EQ(m->GetPort(), nType == CONNECTION_TLS ? 802 : 502);
    Configure(*m, nClosed);
    auto* pTls = dynamic_cast<CTlsModbus*>(m);
    if (pTls != nullptr) {
        pTls->SetCaFile("/etc/regprobe/ca.pem");
        pTls->SetCertFile("client cert.pem");
        pTls->SetKeyFile("");
    }
    const CByteArray bytes = Stored(c);

    CConnections open;
    Configure(*open.Add("dev", CONNECTION_OPEN_MODBUS)->GetRemoteModbus(), nClosed);
    CByteArray expected = Stored(open);
    expected[8] = static_cast<BYTE>(nType);
    if (pTls != nullptr) {
        for (const CString strFile : {"/etc/regprobe/ca.pem", "client cert.pem", ""}) {
            expected.push_back(static_cast<BYTE>(strFile.size()));  // counted strings
            for (char ch : strFile) {
                expected.push_back(static_cast<BYTE>(ch));
            }
        }
    }
    EXPECT_EQ(bytes, expected);

    CConnections loaded;
    Load(loaded, bytes);
    CConnection* q = nullptr;
    ASSERT_TRUE(loaded.Lookup("dev", q));
    EXPECT_EQ(q->GetType(), nType);
    CRemoteModbus* n = q->GetRemoteModbus();
    ASSERT_NE(n, nullptr);
    EXPECT_TRUE(typeid(*n) == kind);
    EXPECT_EQ(n->m_nTries, 3);
    EXPECT_EQ(n->GetHost(), "127.0.0.1");
    EXPECT_EQ(n->GetPort(), nClosed);
    EXPECT_EQ(n->GetTimeout(), 700u);
    EXPECT_EQ(n->m_byServerErrorBase, 0x90);
    if (pTls != nullptr) {
        auto* pLoaded = dynamic_cast<CTlsModbus*>(n);
        ASSERT_NE(pLoaded, nullptr);
        EXPECT_EQ(pLoaded->GetCaFile(), "/etc/regprobe/ca.pem");
        EXPECT_EQ(pLoaded->GetCertFile(), "client cert.pem");
        EXPECT_EQ(pLoaded->GetKeyFile(), "");
    }
    EXPECT_EQ(Stored(loaded), bytes);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ConnectionKinds,
                         testing::Values(CONNECTION_OPEN_MODBUS, CONNECTION_RTU_OVER_TCP,
                                         CONNECTION_UDP, CONNECTION_TLS),
                         [](const testing::TestParamInfo<WORD>& info) {
                             return "Kind" + std::to_string(info.param);
                         });

// A record's settings written without storing: the same bytes as storing
// writes, and no master connects for them.
class SettingsOnly : public Connections, public testing::WithParamInterface<WORD> {};

TEST_P(SettingsOnly, SameBytesAsStoringAndNothingConnects) {
    const WORD nType = GetParam();
    CFakeSerialServer server;
    CFakeServerRegistration reg(server, CLSCTX_LOCAL_SERVER);
    CListener listener;
    CConnections c;
    CConnection* p = c.Add("dev", nType);
    p->m_strReserved = "kept";
    p->m_pModbus->m_nTries = 4;
    p->m_pModbus->m_dwReserved = 0xA5A5;
    if (CRemoteModbus* m = p->GetRemoteModbus()) {
        m->SetHost("127.0.0.1");
        m->SetPort(listener.Port());
        m->SetTimeout(700);
        m->m_byServerErrorBase = 0x90;
        if (auto* pTls = dynamic_cast<CTlsModbus*>(m)) {
            pTls->SetCaFile("ca.pem");
            pTls->SetKeyFile("client.key");
        }
    } else {
        ASSERT_EQ(p->GetAutoModbus()->Create("", "com3"), S_OK);
        server.m_nBaudRate = 19200;
        server.m_nParity = 2;
        server.m_tcp.m_strAddress = "127.0.0.1";
        server.m_tcp.m_nPort = 1502;
        server.m_tcp.m_bRunning = true;
    }
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    p->WriteSettings(ar);
    ar.Close();
    if (CRemoteModbus* m = p->GetRemoteModbus()) {
        EXPECT_FALSE(m->IsConnected());
        EXPECT_LT(listener.Accept(nType == CONNECTION_UDP ? 0 : 200), 0);
    }
    EXPECT_EQ(server.m_nConnects, 0);
    EXPECT_EQ(file.GetData(), Stored(*p));
    if (nType == CONNECTION_LOCAL_DCOM) {
        p->GetAutoModbus()->ReleaseServer();
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SettingsOnly,
                         testing::Values(CONNECTION_LOCAL_DCOM, CONNECTION_OPEN_MODBUS,
                                         CONNECTION_RTU_OVER_TCP, CONNECTION_UDP, CONNECTION_TLS),
                         [](const testing::TestParamInfo<WORD>& info) {
                             return "Kind" + std::to_string(info.param);
                         });

TEST_F(Connections, CutAtEveryOffset) {
    CFakeSerialServer server;
    CFakeServerRegistration reg(server, CLSCTX_LOCAL_SERVER);
    CConnections src;
    src.Add("first", CONNECTION_OPEN_MODBUS);
    CConnection* p = src.Add("second", CONNECTION_LOCAL_DCOM);
    ASSERT_EQ(p->GetAutoModbus()->Create("", "com1"), S_OK);
    src.Add("third", CONNECTION_OPEN_MODBUS);
    CByteArray bytes = Stored(src);
    p->GetAutoModbus()->ReleaseServer();
    const std::vector<CString> order = ConnectionNames(src);

    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        CConnections c;
        Load(c, CByteArray(bytes.begin(), bytes.begin() + cut));
        std::vector<CString> names = ConnectionNames(c);
        // What loaded is a prefix of the saved order, each record whole.
        ASSERT_LE(names.size(), order.size()) << cut;
        POSITION pos = c.GetStartPosition();
        while (pos != nullptr) {
            CString name;
            CConnection* q = nullptr;
            c.GetNextAssoc(pos, name, q);
            ASSERT_NE(q->m_pModbus, nullptr) << cut;
            if (q->GetAutoModbus() != nullptr) {
                EXPECT_NE(q->GetAutoModbus()->m_pPort, nullptr) << cut;
            }
        }
        c.RemoveAll();
    }
    CConnections whole;
    Load(whole, bytes);
    EXPECT_EQ(ConnectionNames(whole), order);
}

TEST_F(Connections, UnreachableServerIsDroppedOthersLoad) {
    CByteArray bytes;
    {
        CFakeSerialServer server;
        CFakeServerRegistration reg(server, CLSCTX_LOCAL_SERVER);
        CConnections src;
        for (const char* name : {"m1", "m2", "m3", "m4"}) {
            src.Add(name, CONNECTION_OPEN_MODBUS);
        }
        CConnection* p = src.Add("serial", CONNECTION_LOCAL_DCOM);
        ASSERT_EQ(p->GetAutoModbus()->Create("", "com1"), S_OK);
        bytes = Stored(src);
    }
    CConnections c;  // no server registered now
    Load(c, bytes);
    CConnection* p = nullptr;
    EXPECT_FALSE(c.Lookup("serial", p));
    EXPECT_EQ(c.GetCount(), 4u);
}

TEST_F(Connections, OpenModbusReconnectsAfterSavingAndLoading) {
    CListener listener;
    CConnections c;
    CRemoteModbus* m = c.Add("tcp", CONNECTION_OPEN_MODBUS)->GetRemoteModbus();
    m->SetHost("127.0.0.1");
    m->SetPort(listener.Port());
    m->SetTimeout(700);
    EXPECT_FALSE(m->IsConnected());
    CByteArray bytes = Stored(c);
    EXPECT_TRUE(m->IsConnected());
    EXPECT_GE(listener.Accept(), 0);

    CConnections loaded;
    Load(loaded, bytes);
    CConnection* p = nullptr;
    ASSERT_TRUE(loaded.Lookup("tcp", p));
    EXPECT_TRUE(p->GetRemoteModbus()->IsConnected());
    EXPECT_EQ(p->GetRemoteModbus()->GetTimeout(), 700u);
    EXPECT_EQ(p->GetRemoteModbus()->GetPort(), listener.Port());
    EXPECT_GE(listener.Accept(), 0);
}

// Loading one record reads past the others without connecting them.
TEST_F(Connections, LoadingOneRecordConnectsOnlyThatOne) {
    CListener wanted;
    CListener passed;
    CConnections c;
    for (auto [pszName, pListener] : {std::pair{"wanted", &wanted}, std::pair{"passed", &passed}}) {
        CRemoteModbus* m = c.Add(pszName, CONNECTION_OPEN_MODBUS)->GetRemoteModbus();
        m->SetHost("127.0.0.1");
        m->SetPort(pListener->Port());
    }
    const CByteArray bytes = Stored(c);  // storing connects both
    for (CListener* pListener : {&wanted, &passed}) {
        ASSERT_GE(pListener->Accept(), 0);
    }

    CConnections loaded;
    CMemFile file(bytes);
    CArchive ar(&file, CArchive::load);
    EXPECT_TRUE(loaded.LoadOnly(ar, "wanted"));
    CConnection* p = nullptr;
    ASSERT_TRUE(loaded.Lookup("wanted", p));
    EXPECT_TRUE(p->GetRemoteModbus()->IsConnected());
    EXPECT_FALSE(loaded.Lookup("passed", p));
    EXPECT_GE(wanted.Accept(), 0);
    EXPECT_LT(passed.Accept(200), 0);
}

class ConfigFile : public Connections {
protected:
    void SetUp() override {
        Connections::SetUp();
        ASSERT_FALSE(m_strDir.empty());
    }
    CByteArray ReadFile() {
        const std::string strText = FileText(m_strPath);
        return CByteArray(strText.begin(), strText.end());
    }

    CTempDir m_dir;
    const CString m_strDir = m_dir.Path();
    const CString m_strPath = m_strDir + "/Regpr.cfg";
};

TEST_F(ConfigFile, SaveAndLoadThroughTheDisk) {
    CConnections c;
    c.Add("one", CONNECTION_OPEN_MODBUS);
    CString strError;
    ASSERT_TRUE(SaveConnections(c, m_strPath, &strError)) << strError;
    EXPECT_EQ(ReadFile(), Stored(c));
    CConnections loaded;
    EXPECT_TRUE(LoadConnections(loaded, m_strPath));
    EXPECT_EQ(loaded.GetCount(), 1u);
    // Loaded again on top: the name is taken, and the error says where.
    EXPECT_FALSE(LoadConnections(loaded, m_strPath, &strError));
    EXPECT_EQ(strError, m_strPath + " is damaged at record 1 of 1: a second connection named one" +
                            "; the connections before it were loaded");
    EXPECT_FALSE(LoadConnections(loaded, m_strDir + "/absent.cfg"));
    // Nothing but the file is left behind in the directory.
    EXPECT_EQ(std::system(("test $(ls -A '" + m_strDir + "' | wc -l) -eq 1").c_str()), 0);
}

TEST_F(ConfigFile, FailedSaveLeavesTheOldFile) {
    CConnections c;
    c.Add("old", CONNECTION_OPEN_MODBUS);
    ASSERT_TRUE(SaveConnections(c, m_strPath));
    const CByteArray before = ReadFile();

    // A write error part-way: the file size limit stops the save after 100 bytes.
    c.Add(CString(5000, 'x'), CONNECTION_OPEN_MODBUS);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    CString strError;
    BOOL bSaved = SaveConnections(c, m_strPath, &strError);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(bSaved);
    EXPECT_FALSE(strError.empty());
    EXPECT_EQ(ReadFile(), before);
    EXPECT_EQ(std::system(("test $(ls -A '" + m_strDir + "' | wc -l) -eq 1").c_str()), 0);

    // A directory that does not exist.
    EXPECT_FALSE(SaveConnections(c, m_strDir + "/none/Regpr.cfg", &strError));
}

// What the poller prints when the record's server cannot be used: a server
// of another protocol version is told apart from one that cannot start.
TEST_F(ConfigFile, OneRecordSaysWhyItsServerCannotBeUsed) {
    {
        CFakeSerialServer server;
        CFakeServerRegistration reg(server, CLSCTX_LOCAL_SERVER);
        CConnections c;
        ASSERT_EQ(c.Add("com1", CONNECTION_LOCAL_DCOM)->GetAutoModbus()->Create("", "com1"), S_OK);
        ASSERT_TRUE(SaveConnections(c, m_strPath));
    }
    const WORD wOther = RPC_VERSION + 1;
    for (const bool bOtherVersion : {false, true}) {
        std::optional<CGreetingServer> other;
        if (bOtherVersion) {
            other.emplace(m_runtime.Path(), wOther);
        }
        CConnections c;
        CString strError;
        EXPECT_EQ(LoadConnection(c, m_strPath, "com1", &strError), nullptr);
        EXPECT_EQ(strError,
                  bOtherVersion
                      ? "connection com1: The serial-port server speaks protocol version " +
                            std::to_string(wOther) + "; this program speaks version " +
                            std::to_string(RPC_VERSION) + "."
                      : "connection com1: The serial-port server is not running and could "
                        "not be started: " +
                            RpcGetLocalServer(CLSID_ModbusSerialServer) +
                            ": No such file or directory.");
    }
}

TEST_F(ConfigFile, NewFileTakesTheUmaskAnOldOneKeepsItsMode) {
    CConnections c;
    const auto ModeAfterSave = [&](mode_t nUmask) {
        const mode_t nOld = ::umask(nUmask);
        const BOOL bSaved = SaveConnections(c, m_strPath);
        ::umask(nOld);
        struct stat st {};
        return bSaved && ::stat(m_strPath.c_str(), &st) == 0 ? st.st_mode & 07777 : 01;
    };
    for (const auto& [nUmask, nMode] : {std::pair<mode_t, mode_t>{077, 0600}, {022, 0644}}) {
        ::unlink(m_strPath.c_str());
        EXPECT_EQ(ModeAfterSave(nUmask), nMode) << std::oct << nUmask;
    }
    ASSERT_EQ(::chmod(m_strPath.c_str(), 0640), 0);
    EXPECT_EQ(ModeAfterSave(077), 0640u);
    EXPECT_EQ(ModeAfterSave(0), 0640u);
}

}  // namespace
