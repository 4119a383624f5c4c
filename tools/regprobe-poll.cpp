// Command-line poller: reads a device at an interval and prints the decoded
// values, the status text and the running statistics; or writes one value
// as the test window does. Output is text for a person, or CSV or JSON.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <termios.h>
#include <unistd.h>

#include "PollOptions.h"
#include "PollOutput.h"
#include "PollPublisher.h"
#include "PollReads.h"
#include "ReadsFile.h"
#include "ScanOutput.h"
#include "connections/ConfigFile.h"
#include "connections/Connection.h"
#include "core/FrameDecode.h"
#include "core/FunctionCodes.h"
#include "core/Traffic.h"
#include "platform/CommandLine.h"
#include "platform/com/ComApi.h"
#include "scan/AddressScan.h"
#include "testview/PollStatistics.h"
#include "testview/ReadWrite.h"
#include "testview/RowFormat.h"
#include "transport/RemoteModbus.h"
#include "transport/TlsModbus.h"
#include "workspace/Workspace.h"

namespace {

// Lock-free, so that the handler may set it; the reading threads watch it.
std::atomic<bool> g_bStop{false};

void OnSignal(int) {
    g_bStop = true;
}

// The options as the rest of this file calls them.
using Options = CPollOptions;

int IndexOf(const char* const* names, int nNames, const std::string& strName) {
    for (int i = 0; i < nNames; ++i) {
        if (strName == names[i]) {
            return i;
        }
    }
    return -1;
}

[[noreturn]] void Usage(const std::string& strError) {
    std::fprintf(stderr, "regprobe-poll: %s (see --help)\n", strError.c_str());
    std::exit(2);
}

// A fault of what the options name, such as a file: the line and exit status 2.
[[noreturn]] void Refuse(const std::string& strError) {
    std::fprintf(stderr, "regprobe-poll: %s\n", strError.c_str());
    std::exit(2);
}

// Window i (from 0) of the workspace read from strFile, as a read of the
// reads file; false with why in strError when it has no connection of the
// workspace's.
bool WindowRead(const CWorkspace& ws, size_t i, const std::string& strFile, CReadLine& r,
                std::string& strError) {
    const CWorkspaceWindow& w = ws.windows[i];
    const std::string strWindow = "window " + std::to_string(i + 1) + " of " + strFile;
    const bool bHeld = std::any_of(ws.connections.begin(), ws.connections.end(),
                                   [&w](const auto& c) { return c.strName == w.strConnection; });
    if (w.strConnection.empty() || !bHeld) {
        strError =
            strWindow + (w.strConnection.empty() ? " has no connection selected"
                                                 : " reads through connection " + w.strConnection +
                                                       ", which the workspace does not hold");
        return false;
    }
    r.nLine = int(i + 1);
    r.strConnection = w.strConnection;
    r.nDevice = FormDevice(w.strDevice);
    r.strFunction = kFunctions[w.nReadFunction];
    r.nAddress = FormAddress(w.strAddress);
    r.nQuantity = FormQuantity(w.strQuantity);
    r.strType = kTypes[w.nDataType];
    r.nInterval = long(FormInterval(w.strInterval));
    return true;
}

// --workspace: the window's form into the options, its connection's name
// into strConnection; the workspace's records as the configuration file's
// image. Refuses a file that cannot be read, a window that is not there,
// and one without a connection of the workspace's.
CByteArray TakeWindow(Options& o) {
    CWorkspace ws;
    CString strError;
    if (!LoadWorkspace(o.strWorkspace, ws, strError)) {
        Refuse(strError);
    }
    const std::string strWindow = "window " + std::to_string(o.nWindow) + " of " + o.strWorkspace;
    if (size_t(o.nWindow) > ws.windows.size()) {
        Refuse("no " + strWindow + ": it holds " + std::to_string(ws.windows.size()) +
               (ws.windows.size() == 1 ? " window" : " windows"));
    }
    CReadLine r;
    std::string strWhy;
    if (!WindowRead(ws, size_t(o.nWindow) - 1, o.strWorkspace, r, strWhy)) {
        Refuse(strWhy);
    }
    o.strConnection = r.strConnection;
    o.nDevice = r.nDevice;
    o.strFunction = r.strFunction;
    o.nAddress = r.nAddress;
    o.nQuantity = r.nQuantity;
    o.strType = r.strType;
    o.nInterval = r.nInterval;
    return ConfigImageOf(ws.connections);
}

// The options, or the help, or the fault that ends the program.
void ParseOptions(int argc, char** argv, Options& o) {
    CString strError;
    switch (ParsePollOptions(argc, argv, o, strError)) {
        case CCommandLine::EResult::HELP:
            std::fputs(PollHelp().c_str(), stdout);
            std::exit(0);
        case CCommandLine::EResult::BAD:
            Usage(strError);
        case CCommandLine::EResult::RUN:
            break;
    }
}

// --trace: each exchange's lines on standard error as it completes.
class CTracePrinter : public ITrafficObserver {
public:
    explicit CTracePrinter(std::string strName) : m_strName(std::move(strName)) {}
    void OnExchange(CTrafficExchange&& exchange) override {
        for (const std::string& strLine : Traffic::FormatLines(exchange, m_strName)) {
            std::fprintf(stderr, "%s\n", strLine.c_str());
        }
    }

private:
    std::string m_strName;
};

// The write, once; false when it failed or nothing could be written.
bool Write(const Options& o, CModbus* pModbus, int* pnStatus) {
    CWriteSettings w;
    w.pModbus = pModbus;
    w.nWriteFunction = IndexOf(kWriteFunctions, WRITE_FUNCTION_COUNT, o.strWriteFunction);
    w.nDataType = IndexOf(kTypes, DATA_TYPE_COUNT, o.strType);
    w.strDevice = std::to_string(o.nDevice);
    w.strAddress = std::to_string(o.nWriteAddress >= 0 ? o.nWriteAddress : o.nAddress);
    w.strValue = o.strWriteValue;
    CWriteResult result = WriteOnce(w);
    result.strError = FrameDecode::NameExceptionStatus(result.strError, result.wStatus);
    if (!result.bWritten) {
        // Nothing went to the device: the value cannot be written as this type.
        std::fprintf(stderr, "regprobe-poll: nothing written: %s (see --help)\n",
                     result.strError.empty() ? "no value" : result.strError.c_str());
        *pnStatus = 2;
        return false;
    }
    if (result.wStatus != 0) {
        std::fprintf(stderr, "%s\n", result.strError.c_str());
        *pnStatus = 1;
        return false;
    }
    return true;
}

CReadJob MakeReadJob(const std::string& strConnection, long nDevice, const std::string& strFunction,
                     long nAddress, long nQuantity, const std::string& strType, long nInterval) {
    CReadJob job;
    job.settings.nReadFunction = IndexOf(kFunctions, READ_FUNCTION_COUNT, strFunction);
    job.settings.nDataType = IndexOf(kTypes, DATA_TYPE_COUNT, strType);
    job.settings.strDevice = std::to_string(nDevice);
    job.settings.strAddress = std::to_string(nAddress);
    job.settings.strQuantity = std::to_string(nQuantity);
    job.context = {strConnection, nDevice, strFunction, strType, std::string()};
    job.nInterval = nInterval;
    return job;
}

// A kept Modbus/TCP connection that could not be made at the start, whose
// error is told already: a scan or a raw request then has nothing to use.
bool LostAtTheStart(CRemoteModbus* pTcp) {
    return pTcp != nullptr && !pTcp->GetReconnect() && !pTcp->IsConnected();
}

// --scan-units: each unit of the range asked in turn; the exit status.
int Scan(const Options& o, CModbus* pModbus, CRemoteModbus* pTcp, CScanOutput& output) {
    if (LostAtTheStart(pTcp)) {
        return 1;
    }
    if (o.nScanTimeout != 0) {
        pTcp->SetTimeout(DWORD(o.nScanTimeout));
    }
    CUnitScanRequest request;
    request.nReadFunction = IndexOf(kFunctions, READ_FUNCTION_COUNT, o.strFunction);
    request.wAddress = WORD(o.nAddress);
    request.wQuantity = WORD(o.nQuantity);
    request.byFirst = BYTE(o.nScanFirst);
    request.byLast = BYTE(o.nScanLast);
    // A unit that stays silent costs a Modbus/TCP master its connection:
    // it is made again before the next unit.
    auto before = [pModbus] {
        if (g_bStop) {
            return false;
        }
        CString strCause;
        if (KeepConnected(*pModbus, &strCause)) {
            return true;
        }
        std::fprintf(stderr, "Connection Error: %s\n", strCause.c_str());
        return false;
    };
    const std::vector<CUnitAnswer> answers =
        ScanUnits(*pModbus, request, before, [&output](const CUnitAnswer& answer) {
            output.Unit(answer);
            return !g_bStop;
        });
    output.End(answers);
    return answers.size() == size_t(o.nScanLast - o.nScanFirst + 1) ? 0 : 1;
}

// --scan-addresses: the readable ranges of one table; the exit status.
int ScanAddresses(const Options& o, CModbus* pModbus, CRemoteModbus* pTcp) {
    if (LostAtTheStart(pTcp)) {
        return 1;
    }
    const int nFunction = IndexOf(kFunctions, READ_FUNCTION_COUNT, o.strFunction);
    const unsigned nMaxCount =
        o.bQuantityGiven ? unsigned(std::max(1L, o.nQuantity)) : MaxReadCount(nFunction);
    WORD wStatus = 0;
    const auto read =
        TableReader(*pModbus, nFunction, BYTE(o.nDevice), &wStatus, [] { return g_bStop.load(); });
    const CAddressScan::CResult result =
        CAddressScan::Scan(read, 0, 65535, nMaxCount, unsigned(o.nScanStep));
    PrintRanges(o.strFormat, result.ranges, stdout);
    if (!result.bComplete) {
        const CString strStatus =
            g_bStop ? CString("interrupted")
                    : FrameDecode::NameExceptionStatus(pModbus->GetErrorText(wStatus), wStatus);
        std::fprintf(stderr, "regprobe-poll: scan stopped at %u after %u requests: %s\n",
                     result.nFailedAt, result.nRequests, strStatus.c_str());
        return 1;
    }
    std::fprintf(stderr, "%zu range%s in %u requests\n", result.ranges.size(),
                 result.ranges.size() == 1 ? "" : "s", result.nRequests);
    return 0;
}

// --raw: one request of the given bytes, its answer decoded; the exit status.
int SendRaw(const Options& o, CModbus* pModbus, CRemoteModbus* pTcp) {
    if (LostAtTheStart(pTcp)) {
        return 1;
    }
    const CRawExchange exchange = SendRawRequest(*pModbus, BYTE(o.nDevice), o.rawPdu);
    PrintRaw(o.strFormat, exchange, stdout);
    return exchange.bOk ? 0 : 1;
}

}  // namespace

// What the device is called in the output and the trace.
std::string DeviceName(const Options& o) {
    return o.strConnection.empty() ? o.strHost + ":" + std::to_string(o.nPort) : o.strConnection;
}

// The connection kind of a --transport name: kTransports is in kind order
// from Open Modbus on.
WORD TransportKind(const std::string& strTransport) {
    for (size_t i = 0; i < std::size(kTransports); ++i) {
        if (strTransport == kTransports[i]) {
            return static_cast<WORD>(CONNECTION_OPEN_MODBUS + i);
        }
    }
    return CONNECTION_OPEN_MODBUS;
}

// A line typed on the terminal without echo, after the prompt on standard
// error; false when standard input ended first.
bool AskHidden(const std::string& strPrompt, CString& strLine) {
    std::fprintf(stderr, "%s", strPrompt.c_str());
    std::fflush(stderr);
    termios saved{};
    const bool bTerminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (bTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    char buf[1024];
    const bool bRead = std::fgets(buf, sizeof buf, stdin) != nullptr;
    if (bTerminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    }
    strLine = bRead ? CString(buf) : CString();
    std::memset(buf, 0, sizeof buf);
    while (!strLine.empty() && (strLine.back() == '\n' || strLine.back() == '\r')) {
        strLine.pop_back();
    }
    return bRead;
}

// Gives a Modbus/TCP Security master the passphrase of its key when the key
// is encrypted: asked on the terminal, or the first line of
// --key-passphrase-file. False, with the reason on standard error, when it
// cannot be had.
bool SupplyPassphrase(const Options& o, CRemoteModbus* pModbus) {
    auto* pTls = dynamic_cast<CTlsModbus*>(pModbus);
    if (pTls == nullptr || !CTlsModbus::KeyNeedsPassphrase(pTls->GetKeyFile())) {
        return true;
    }
    CString strPassphrase;
    if (!o.strKeyPassphraseFile.empty()) {
        std::ifstream file(o.strKeyPassphraseFile);
        if (!file) {
            std::fprintf(stderr, "regprobe-poll: cannot read %s: %s\n",
                         o.strKeyPassphraseFile.c_str(), std::strerror(errno));
            return false;
        }
        std::getline(file, strPassphrase);
        if (!strPassphrase.empty() && strPassphrase.back() == '\r') {
            strPassphrase.pop_back();
        }
    } else if (::isatty(STDIN_FILENO) == 1) {
        if (!AskHidden("Passphrase for " + pTls->GetKeyFile() + ": ", strPassphrase)) {
            std::fprintf(stderr, "regprobe-poll: no passphrase given\n");
            return false;
        }
    } else {
        std::fprintf(stderr,
                     "regprobe-poll: the key %s is encrypted; give its passphrase with "
                     "--key-passphrase-file FILE\n",
                     pTls->GetKeyFile().c_str());
        return false;
    }
    pTls->SetKeyPassphrase(strPassphrase);
    return true;
}

// The master: a saved connection, or one made from the options. Open is
// false, with the reason on standard error, when there is none to use.
class CDevice {
public:
    // image: a workspace's records, where o.strConnection is to be found
    // instead of in --config's file.
    bool Open(const Options& o, const CByteArray& image) {
        if (o.strConnection.empty()) {
            m_pOwn.reset(NewHostModbus(TransportKind(o.strTransport)));
            CRemoteModbus& m = *m_pOwn;
            m.m_nTries = WORD(o.nTries);
            m.SetHost(o.strHost);
            m.SetPort(WORD(o.nPort));
            m.SetTimeout(DWORD(o.nTimeout));
            m.SetReconnect(o.bReconnect ? TRUE : FALSE);
            if (auto* pTls = dynamic_cast<CTlsModbus*>(&m)) {
                pTls->SetCaFile(o.strCaFile);
                pTls->SetCertFile(o.strCertFile);
                pTls->SetKeyFile(o.strKeyFile);
            }
            if (!SupplyPassphrase(o, &m)) {
                return false;
            }
            m_pModbus = &m;
            m_pTcp = &m;
            // Without a connection the reads fail, and are printed as they fail,
            // until one can be made.
            if (!m.Connect(CString(), 0, 0)) {
                ReportConnectionError(m, o);
            }
            return true;
        }
        // Local/DCom connections reach their server through the COM subset.
        m_bCom = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        CString strError;
        CConnection* pConnection =
            o.strWorkspace.empty()
                ? LoadConnection(m_connections, o.strConfig, o.strConnection, &strError)
                : LoadConnection(m_connections, image, o.strWorkspace, o.strConnection, &strError);
        if (pConnection == nullptr) {
            std::fprintf(stderr, "regprobe-poll: %s\n", strError.c_str());
            return false;
        }
        m_pModbus = pConnection->m_pModbus;
        if (o.bTriesGiven) {
            m_pModbus->m_nTries = WORD(o.nTries);
        }
        // Local/DCom records reach their line through the server, which
        // keeps it open; only a record by host and port has a connection
        // to lose.
        m_pTcp = pConnection->GetRemoteModbus();
        if (m_pTcp != nullptr && !m_pTcp->IsConnected()) {
            // An encrypted key could not be used while loading: its
            // passphrase first, then the connection again.
            auto* pTls = dynamic_cast<CTlsModbus*>(m_pTcp);
            if (pTls != nullptr && CTlsModbus::KeyNeedsPassphrase(pTls->GetKeyFile())) {
                if (!SupplyPassphrase(o, m_pTcp)) {
                    return false;
                }
                if (m_pTcp->Connect(CString(), 0, 0)) {
                    return true;
                }
            }
            ReportConnectionError(*m_pTcp, o);
        }
        return true;
    }
    ~CDevice() {
        m_connections.RemoveAll();  // the automation objects go before the COM subset
        if (m_bCom) {
            CoUninitialize();
        }
    }
    CModbus* Modbus() const { return m_pModbus; }
    // The master by host and port to connect again when it lost its
    // connection.
    CRemoteModbus* Tcp() const { return m_pTcp; }

private:
    // Where and why, as the master tells it; the device's name when it
    // cannot.
    static void ReportConnectionError(CRemoteModbus& tcp, const Options& o) {
        const CString strCause = tcp.GetLastCause();
        std::fprintf(stderr, "Connection Error: %s\n",
                     strCause.empty() ? DeviceName(o).c_str() : strCause.c_str());
    }

    std::unique_ptr<CRemoteModbus> m_pOwn;
    CConnections m_connections;
    CModbus* m_pModbus = nullptr;
    CRemoteModbus* m_pTcp = nullptr;
    bool m_bCom = false;
};

// A connection the poller reads, and its reads.
struct CPolled {
    Options options;  // how to open it
    std::string strName;
    std::vector<CReadJob> jobs;
    CDevice device;
    size_t nPublisher = 0;  // its client of the broker
};
using PolledList = std::vector<std::unique_ptr<CPolled>>;

// A workspace given as --reads: each test window a read through its
// connection, found in the workspace's own records, which go to image.
bool WorkspaceReads(const std::string& strFile, std::vector<CReadLine>& reads, CByteArray& image,
                    std::string& strError) {
    CWorkspace ws;
    CString strWhy;
    if (!LoadWorkspace(strFile, ws, strWhy)) {
        strError = strWhy;
        return false;
    }
    for (size_t i = 0; i < ws.windows.size(); ++i) {
        CReadLine r;
        if (!WindowRead(ws, i, strFile, r, strError)) {
            return false;
        }
        reads.push_back(r);
    }
    if (reads.empty()) {
        strError = strFile + ": no test windows to read";
        return false;
    }
    image = ConfigImageOf(ws.connections);
    return true;
}

bool EndsWith(const std::string& str, const std::string& strEnd) {
    return str.size() >= strEnd.size() &&
           str.compare(str.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
}

// The connections and reads of --reads FILE, a reads file or a workspace
// (.rpw, whose records go to image); false with the line to print.
bool PlanReads(const Options& o, PolledList& polled, CByteArray& image, std::string& strError) {
    std::vector<CReadLine> reads;
    const bool bWorkspace = EndsWith(o.strReads, WORKSPACE_EXTENSION);
    if (bWorkspace ? !WorkspaceReads(o.strReads, reads, image, strError)
                   : !LoadReads(o.strReads, reads, strError)) {
        return false;
    }
    std::map<std::string, CPolled*> byConnection;
    for (const CReadLine& r : reads) {
        CPolled*& p = byConnection[r.strConnection];
        if (p == nullptr) {
            polled.push_back(std::make_unique<CPolled>());
            p = polled.back().get();
            p->options = o;
            if (!r.strTransport.empty()) {
                p->options.strConfig.clear();
                p->options.strTransport = r.strTransport;
                p->options.strHost = r.strHost;
                p->options.nPort = r.nPort;
            } else if (bWorkspace) {
                p->options.strConfig.clear();
                p->options.strWorkspace = o.strReads;
                p->options.strConnection = r.strConnection;
            } else if (o.strConfig.empty()) {
                strError = o.strReads + ":" + std::to_string(r.nLine) + ": '" + r.strConnection +
                           "' is no tcp:, rtu-over-tcp: or udp:HOST:PORT, and no --config FILE " +
                           "is given to find it in";
                return false;
            } else {
                p->options.strConnection = r.strConnection;
            }
            p->strName = DeviceName(p->options);
        }
        CReadJob job = MakeReadJob(p->strName, r.nDevice, r.strFunction, r.nAddress, r.nQuantity,
                                   r.strType, r.nInterval);
        job.context.strLabel = p->strName + " " + std::to_string(r.nDevice) + " " + r.strFunction +
                               " " + std::to_string(r.nAddress) + ": ";
        p->jobs.push_back(std::move(job));
    }
    return true;
}

// The environment's password for the broker, if any.
std::string MqttPassword() {
    const char* psz = std::getenv("REGPROBE_MQTT_PASSWORD");
    return psz == nullptr ? std::string() : std::string(psz);
}

// Runs each connection's reads on a thread of its own; meanwhile this
// thread tells of a broker that is away, once a minute (the tests shorten
// it).
void RunOnThreads(PolledList& polled, const std::function<void(CPolled&)>& run,
                  CPollPublisher* pPublisher) {
    std::atomic<size_t> nRunning{polled.size()};
    std::vector<std::thread> threads;
    for (auto& p : polled) {
        threads.emplace_back([&run, &nRunning, pPolled = p.get()] {
            // A Local/DCom connection's calls come from this thread.
            const bool bCom = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
            run(*pPolled);
            if (bCom) {
                CoUninitialize();
            }
            --nRunning;
        });
    }
    const char* pszEvery = std::getenv("REGPROBE_POLL_REPORT_MS");
    const auto every = std::chrono::milliseconds(
        pszEvery != nullptr ? std::max(100L, std::atol(pszEvery)) : 60000L);
    auto tReport = std::chrono::steady_clock::now() + every;
    while (nRunning > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto tNow = std::chrono::steady_clock::now();
        if (pPublisher != nullptr && tNow >= tReport) {
            std::fputs(pPublisher->Degraded(tNow).c_str(), stderr);
            tReport = tNow + every;
        }
    }
    for (std::thread& t : threads) {
        t.join();
    }
}

// Every connection's reads until their counts are done or a signal comes,
// printed or published; the exit status. Several connections, or a
// publishing poller, read on a thread per connection while this thread
// tells of a broker that is away.
int PollAll(const Options& o, PolledList& polled) {
    std::unique_ptr<CPollPublisher> pPublisher;
    std::unique_ptr<CPollOutput> pOutput;
    std::mutex outputLock;
    ReadSink sink;
    if (!o.strPublish.empty()) {
        pPublisher = std::make_unique<CPollPublisher>(
            CPollPublisher::CSettings{o.publish, MqttPassword(), o.strMqttCaFile, o.strMqttCertFile,
                                      o.strMqttKeyFile, size_t(o.nQueue)});
        for (auto& p : polled) {
            std::string strError;
            if (!pPublisher->AddConnection(p->strName, &p->nPublisher, strError)) {
                std::fprintf(stderr, "regprobe-poll: %s\n", strError.c_str());
                return 1;
            }
        }
        sink = [&pPublisher](size_t nIndex, const CPollContext& context, std::int64_t nMillis,
                             const CReadResult& result, const std::string&) {
            pPublisher->Read(nIndex, context, nMillis, result);
        };
    } else {
        pOutput = CPollOutput::Make(o.strFormat, stdout);
        sink = [&pOutput, &outputLock](size_t, const CPollContext& context, std::int64_t nMillis,
                                       const CReadResult& result,
                                       const std::string& strStatistics) {
            std::lock_guard<std::mutex> lock(outputLock);
            pOutput->Read(context, nMillis, result, strStatistics);
        };
    }
    std::atomic<int> nErrors{0};
    const auto run = [&](CPolled& p) {
        nErrors += RunReads(p.jobs, p.nPublisher, p.device.Modbus(), p.device.Tcp(), o.nCount,
                            o.bOnce, g_bStop, sink);
    };
    if (polled.size() == 1 && pPublisher == nullptr) {
        run(*polled.front());
    } else {
        RunOnThreads(polled, run, pPublisher.get());
    }
    if (pOutput != nullptr) {
        pOutput->End();
    }
    const bool bDelivered =
        pPublisher == nullptr || pPublisher->Finish(std::chrono::milliseconds(o.nFlushTimeout));
    return nErrors == 0 && bDelivered ? 0 : 1;
}

// What one device is polled for, or the reads of --reads.
PolledList PlanPolled(const Options& o, CByteArray& image) {
    PolledList polled;
    if (!o.strReads.empty()) {
        std::string strError;
        if (!PlanReads(o, polled, image, strError)) {
            Usage(strError);
        }
    } else {
        polled.push_back(std::make_unique<CPolled>());
        polled.back()->options = o;
        polled.back()->strName = DeviceName(o);
        polled.back()->jobs.push_back(MakeReadJob(polled.back()->strName, o.nDevice, o.strFunction,
                                                  o.nAddress, o.nQuantity, o.strType, o.nInterval));
    }
    return polled;
}

// A scan, a raw request or a write, which come before polling or instead
// of it (o.nCount is then 0); the exit status.
int RunBeforePolling(Options& o, CDevice& device) {
    int nStatus = 0;
    if (o.bScanUnits) {
        if (o.nScanTimeout != 0 && device.Tcp() == nullptr) {
            std::fprintf(stderr,
                         "regprobe-poll: --scan-timeout needs a Modbus/TCP "
                         "connection; a serial line keeps its own\n");
            nStatus = 2;
        } else {
            nStatus =
                Scan(o, device.Modbus(), device.Tcp(), *CScanOutput::Make(o.strFormat, stdout));
        }
        o.nCount = 0;
    } else if (o.bRaw) {
        nStatus = SendRaw(o, device.Modbus(), device.Tcp());
        o.nCount = 0;
    } else if (o.bScanAddresses) {
        nStatus = ScanAddresses(o, device.Modbus(), device.Tcp());
        o.nCount = 0;
    } else if (o.bWrite && !Write(o, device.Modbus(), &nStatus)) {
        o.nCount = 0;
    }
    return nStatus;
}

int main(int argc, char** argv) {
    Options o;
    ParseOptions(argc, argv, o);
    CByteArray image = o.strWorkspace.empty() ? CByteArray() : TakeWindow(o);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // A broker or device that goes away mid-write is a failed write, not an end.
    std::signal(SIGPIPE, SIG_IGN);

    PolledList polled = PlanPolled(o, image);
    const std::string strName = o.strReads.empty() ? polled.front()->strName : o.strReads;
    CTracePrinter trace(strName);
    if (o.bTrace) {
        Traffic::SetObserver(&trace);
    }
    int nStatus = 0;
    for (auto& p : polled) {
        if (!p->device.Open(p->options, image)) {
            nStatus = 1;
        }
    }
    if (nStatus != 0) {
        o.nCount = 0;
    } else {
        nStatus = RunBeforePolling(o, polled.front()->device);
    }
    if (nStatus == 0 && o.nCount != 0) {
        nStatus = PollAll(o, polled);
    }
    polled.clear();
    Traffic::SetObserver(nullptr);
    return nStatus;
}
