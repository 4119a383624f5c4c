// Cycles per second of one test window polling at interval 0, against a loop
// on the same master doing the same read (and the same statistics line)
// without a window, and against the same window logging to a file, in the
// same run, and against the same window with its trend chart open; then, with
// eight windows polling at interval 0, how late an event posted to the
// window's thread from outside is handled (as input would be), without and
// with every window's chart open.
// The simulator, the workers and the window share one CPU.
#include <dirent.h>
#include <unistd.h>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "BenchSupport.h"
#include "connections/Connections.h"
#include "platform/ui/MDIChildWnd.h"
#include "res/RegprobeResources.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "shell/RegprobeApp.h"
#include "testview/PollStatistics.h"
#include "testview/RowFormat.h"
#include "testview/ui/RegprobeView.h"
#include "testview/ui/TrendChart.h"
#include "transport/RemoteModbus.h"

namespace {
using Clock = std::chrono::steady_clock;

struct Options {
    int nRounds = 5;
    int nMillis = 2000;  // per contender and round
    int nWindows = 8;
    int nLatencyMillis = 5000;
    int nCpu = 0;
    int nSoakSeconds = 0;
};

const char kUsage[] =
    "usage: %s [--rounds N>=3] [--millis N] [--windows N] [--latency-millis N] "
    "[--cpu N|-1]\n"
    "  --rounds          rounds; each runs the window and the loop once (5)\n"
    "  --millis          polling time of each contender in a round (2000)\n"
    "  --windows         windows polling at once for the latency part (8)\n"
    "  --latency-millis  time the latency is sampled for (5000)\n"
    "  --cpu             CPU that the bench and the simulator run on (0);\n"
    "                    -1 leaves the scheduler free\n"
    "  --soak-seconds    instead: the windows poll back to back for this long\n"
    "                    with a write every 100 ms; prints memory and open\n"
    "                    descriptors at the start, after one minute and at the end\n";

void RunEventsFor(int nMillis) {
    QEventLoop loop;
    QTimer::singleShot(nMillis, &loop, &QEventLoop::quit);
    loop.exec();
}

bool RunEventsUntil(const std::function<bool()>& pred, int nMillis) {
    QElapsedTimer timer;
    timer.start();
    while (!pred() && timer.elapsed() < nMillis) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return pred();
}

int Cycles(const CRegprobeView* pView) {
    return pView->m_staticStatistics->text().section(' ', 0, 0).toInt();
}

// Polls at interval 0 for nMillis; cycles per second from start to end.
double PollWindow(CRegprobeView* pView, int nMillis) {
    pView->m_editInterval->setText("0");
    QElapsedTimer timer;
    timer.start();
    pView->m_checkEnablePoll->click();
    RunEventsFor(nMillis);
    pView->m_checkEnablePoll->click();
    if (!RunEventsUntil([&] { return !pView->IsPolling(); }, 10000)) {
        std::fprintf(stderr, "the worker did not stop\n");
        std::exit(1);
    }
    const double dSeconds = double(timer.nsecsElapsed()) / 1e9;
    RunEventsFor(50);  // the last cycle reaches the window
    if (!pView->m_staticStatistics->text().contains(" Errors=0 ")) {
        std::fprintf(stderr, "the window's reads failed: %s\n",
                     pView->m_staticStatistics->text().toStdString().c_str());
        std::exit(1);
    }
    return Cycles(pView) / dSeconds;
}

// The same with "Log to File..." on, into strPath.
double PollWindowLogged(CRegprobeView* pView, int nMillis, const CString& strPath) {
    pView->m_chooseLogFile = [strPath] { return strPath; };
    pView->m_checkLogToFile->click();
    if (!pView->m_checkLogToFile->isChecked()) {
        std::fprintf(stderr, "logging did not start on %s\n", strPath.c_str());
        std::exit(1);
    }
    const double dRate = PollWindow(pView, nMillis);
    pView->m_checkLogToFile->click();
    return dRate;
}

// The same with the window's trend chart open (and drawing) meanwhile.
double PollWindowCharting(CRegprobeView* pView, int nMillis) {
    pView->ShowChart(true);
    if (!pView->IsChartShown()) {
        std::fprintf(stderr, "the chart did not open\n");
        std::exit(1);
    }
    const int nPaints = pView->GetChart()->m_pPlot->Paints();
    const double dRate = PollWindow(pView, nMillis);
    if (pView->GetChart()->m_pPlot->Paints() == nPaints) {
        std::fprintf(stderr, "the chart did not draw while polling\n");
        std::exit(1);
    }
    pView->ShowChart(false);
    return dRate;
}

// The worker's own work without the window: read, rows, statistics line.
double PollLoop(CModbus* pModbus, int nMillis) {
    const CReadSettings settings{pModbus, READ_OUTPUT_REGISTERS, TYPE_SIGNED_16, "1", "0", "10",
                                 ""};
    CPollStatistics statistics;
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(nMillis);
    long nCycles = 0;
    CString strLine;
    while (Clock::now() < end) {
        CReadResult result = ReadOnce(settings);
        if (result.Failed() || result.list.rows.size() != 10) {
            std::fprintf(stderr, "the loop's read failed: %s\n", result.strStatus.c_str());
            std::exit(1);
        }
        strLine = statistics.AddCycle(result);
        ++nCycles;
    }
    return double(nCycles) / std::chrono::duration<double>(Clock::now() - start).count();
}

// Posted from another thread; the window's thread notes how late it came.
class CProbeEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const auto kind = QEvent::Type(QEvent::registerEventType());
        return kind;
    }
    CProbeEvent() : QEvent(Kind()), m_posted(Clock::now()) {}
    Clock::time_point m_posted;
};

class CProbe : public QObject {
public:
    std::vector<double> m_delaysMs;

protected:
    bool event(QEvent* pEvent) override {
        if (pEvent->type() != CProbeEvent::Kind()) {
            return QObject::event(pEvent);
        }
        auto* pProbe = static_cast<CProbeEvent*>(pEvent);
        m_delaysMs.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - pProbe->m_posted).count());
        return true;
    }
};

// Resident memory in KiB and open descriptors of this process.
struct CFootprint {
    long nRssKiB;
    long nDescriptors;
    std::vector<std::string> descriptors;  // "fd -> target"
};

CFootprint Footprint() {
    CFootprint f{0, 0, {}};
    if (FILE* pFile = std::fopen("/proc/self/statm", "r")) {
        long nSize = 0, nResident = 0;
        if (std::fscanf(pFile, "%ld %ld", &nSize, &nResident) == 2) {
            f.nRssKiB = nResident * (::sysconf(_SC_PAGESIZE) / 1024);
        }
        std::fclose(pFile);
    }
    if (DIR* pDir = ::opendir("/proc/self/fd")) {
        const int hOwn = ::dirfd(pDir);
        while (const dirent* pEntry = ::readdir(pDir)) {
            if (pEntry->d_name[0] == '.' || std::atoi(pEntry->d_name) == hOwn) {
                continue;
            }
            char szTarget[256] = "";
            const std::string strPath = std::string("/proc/self/fd/") + pEntry->d_name;
            const ssize_t n = ::readlink(strPath.c_str(), szTarget, sizeof szTarget - 1);
            szTarget[n > 0 ? n : 0] = '\0';
            f.descriptors.push_back(std::string(pEntry->d_name) + " -> " + szTarget);
            ++f.nDescriptors;
        }
        ::closedir(pDir);
        std::sort(f.descriptors.begin(), f.descriptors.end());
    }
    return f;
}

void PrintFootprint(const char* pszWhen, const CFootprint& f) {
    std::printf("  %-20s RSS %7ld KiB, %3ld open descriptors\n", pszWhen, f.nRssKiB,
                f.nDescriptors);
    std::fflush(stdout);
}

// Every window polling at interval 0, or none; back when all say so.
void SetPollingAtZero(const std::vector<CRegprobeView*>& views, bool bOn) {
    for (CRegprobeView* p : views) {
        p->m_editInterval->setText("0");
        if (p->m_checkEnablePoll->isChecked() != bOn) {
            p->m_checkEnablePoll->click();
        }
    }
    RunEventsUntil(
        [&] {
            return std::all_of(views.begin(), views.end(),
                               [&](CRegprobeView* p) { return p->IsPolling() == bOn; });
        },
        10000);
    RunEventsFor(50);
}

void PrintNewDescriptors(const CFootprint& before, const CFootprint& after) {
    for (const std::string& str : after.descriptors) {
        if (std::find(before.descriptors.begin(), before.descriptors.end(), str) ==
            before.descriptors.end()) {
            std::printf("  new since the first second: %s\n", str.c_str());
        }
    }
}

// Every window polls back to back; one of them writes every 100 ms.
int Soak(std::vector<CRegprobeView*> views, int nSeconds) {
    std::printf("soak: %zu windows polling at interval 0 for %d s, a write every 100 ms\n",
                views.size(), nSeconds);
    // Open descriptors are compared with polling stopped (while it runs, a
    // reconnecting master's socket of the moment may be counted or not), and
    // after a first round of polling and writing, which makes what Qt makes
    // once.
    SetPollingAtZero(views, true);
    RunEventsFor(1000);
    views.front()->m_btnWrite->click();
    SetPollingAtZero(views, false);
    const CFootprint idle = Footprint();
    PrintFootprint("after a first second", idle);
    SetPollingAtZero(views, true);
    RunEventsFor(2000);  // every window's first cycles and drawing done
    const CFootprint start = Footprint();
    PrintFootprint("after 2 s", start);
    CFootprint minute = start;
    QElapsedTimer timer;
    timer.start();
    int nWrites = 0;
    bool bMinute = false;
    while (timer.elapsed() < qint64(nSeconds) * 1000) {
        RunEventsFor(100);
        CRegprobeView* pWriter = views[size_t(nWrites) % views.size()];
        pWriter->m_editWriteAddress->setText(QString::number(20 + nWrites % 10));
        pWriter->m_editWriteValue->setText(QString::number(nWrites));
        pWriter->m_btnWrite->click();
        ++nWrites;
        if (!bMinute && timer.elapsed() >= 60000) {
            bMinute = true;
            minute = Footprint();
            PrintFootprint("after one minute", minute);
        }
    }
    const CFootprint end = Footprint();
    PrintFootprint("at the end", end);
    SetPollingAtZero(views, false);
    const CFootprint stopped = Footprint();
    PrintFootprint("after polling", stopped);
    long nCycles = 0;
    bool bErrors = false;
    for (CRegprobeView* p : views) {
        nCycles += Cycles(p);
        bErrors = bErrors || !p->m_staticStatistics->text().contains(" Errors=0 ");
    }
    const double dGrowth = 100.0 * double(end.nRssKiB - minute.nRssKiB) / double(minute.nRssKiB);
    std::printf(
        "  %ld cycles, %d writes%s; RSS growth after the first minute %.2f %% "
        "(goal < 1 %%)%s; descriptors %s\n",
        nCycles, nWrites, bErrors ? ", SOME READS FAILED" : ", no read failed", dGrowth,
        bMinute ? "" : " (run shorter than a minute: from 2 s)",
        stopped.nDescriptors == idle.nDescriptors  ? "equal"
        : stopped.nDescriptors < idle.nDescriptors ? "fewer (none new)"
                                                   : "MORE");
    if (stopped.nDescriptors > idle.nDescriptors) {
        PrintNewDescriptors(idle, stopped);
    }
    return bErrors || stopped.nDescriptors > idle.nDescriptors ? 1 : 0;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// The window, the loop and the logging window in turn, each round starting
// with another one; prints the medians and ratios.
int MeasureThroughput(CRegprobeView* pView, CModbus* pModbus, const Options& opt) {
    char szLog[] = "/tmp/regprobe-bench-log-XXXXXX";
    const int hLog = ::mkstemp(szLog);
    if (hLog < 0) {
        std::fprintf(stderr, "no temporary file for the log\n");
        return 1;
    }
    ::close(hLog);
    std::vector<double> window, loop, ratio, logged, logRatio, charting, chartRatio;
    for (int round = kWarmUpRound; round < opt.nRounds; ++round) {
        const int nMillis = round == kWarmUpRound ? opt.nMillis / 4 : opt.nMillis;
        double dWindow = 0, dLoop = 0, dLogged = 0, dCharting = 0;
        for (int k = 0; k < 4; ++k) {
            switch (ContenderAt(round, k, 4)) {
                case 0:
                    dWindow = PollWindow(pView, nMillis);
                    break;
                case 1:
                    dLoop = PollLoop(pModbus, nMillis);
                    break;
                case 2:
                    dLogged = PollWindowLogged(pView, nMillis, szLog);
                    ::truncate(szLog, 0);
                    break;
                default:
                    dCharting = PollWindowCharting(pView, nMillis);
                    break;
            }
        }
        if (round != kWarmUpRound) {
            window.push_back(dWindow);
            loop.push_back(dLoop);
            ratio.push_back(dWindow / dLoop);
            logged.push_back(dLogged);
            logRatio.push_back(dLogged / dWindow);
            charting.push_back(dCharting);
            chartRatio.push_back(dCharting / dWindow);
        }
    }
    ::unlink(szLog);
    const CSpread r = Spread(ratio);
    std::printf(
        "one window polling at interval 0 against the same read in a loop, %d rounds of "
        "%d ms, CPU %d\n",
        opt.nRounds, opt.nMillis, opt.nCpu);
    std::printf("  window %8.0f cycles/s (median)\n", Median(window));
    std::printf("  loop   %8.0f cycles/s (median)\n", Median(loop));
    std::printf("  window/loop %.3f (min %.3f, max %.3f); goal >= 0.80: %s\n", r.dMedian, r.dMin,
                r.dMax, r.dMedian >= 0.8 ? "met" : "NOT met");
    const CSpread l = Spread(logRatio);
    std::printf("  window logging to a file %8.0f cycles/s (median)\n", Median(logged));
    std::printf("  logging on/off %.3f (min %.3f, max %.3f); goal >= 0.90: %s\n", l.dMedian, l.dMin,
                l.dMax, l.dMedian >= 0.9 ? "met" : "NOT met");
    const CSpread c = Spread(chartRatio);
    std::printf("  window with its chart open %8.0f cycles/s (median)\n", Median(charting));
    std::printf("  chart open/closed %.3f (min %.3f, max %.3f); goal >= 0.90: %s\n", c.dMedian,
                c.dMin, c.dMax, c.dMedian >= 0.9 ? "met" : "NOT met");
    return 0;
}

// How late an event posted to the windows' thread from outside is handled
// while every window polls at interval 0, with every window's chart open or
// none.
void MeasureLatency(const std::vector<CRegprobeView*>& views, const Options& opt, bool bCharts) {
    // The charts are open and drawn once before polling starts: opening a
    // window is not what is measured.
    for (CRegprobeView* p : views) {
        p->ShowChart(bCharts);
    }
    RunEventsUntil(
        [&] {
            return std::all_of(views.begin(), views.end(), [&](CRegprobeView* p) {
                return !bCharts || p->GetChart()->m_pPlot->Paints() > 0;
            });
        },
        10000);
    for (CRegprobeView* p : views) {
        p->m_editInterval->setText("0");
        p->m_checkEnablePoll->click();
    }
    CProbe probe;
    std::atomic<bool> bProbing{true};
    std::thread poster([&] {
        while (bProbing) {
            QCoreApplication::postEvent(&probe, new CProbeEvent);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    RunEventsFor(opt.nLatencyMillis);
    bProbing = false;
    poster.join();
    for (CRegprobeView* p : views) {
        p->m_checkEnablePoll->click();
    }
    RunEventsUntil(
        [&] {
            return std::none_of(views.begin(), views.end(),
                                [](CRegprobeView* p) { return p->IsPolling(); });
        },
        10000);
    RunEventsFor(50);
    long nCycles = 0;
    for (CRegprobeView* p : views) {
        nCycles += Cycles(p);
    }
    std::printf(
        "%d windows polling at interval 0 for %d ms%s: %ld cycles in all; an event posted to "
        "the window's thread every 5 ms waited\n",
        opt.nWindows, opt.nLatencyMillis, bCharts ? ", each charting" : "", nCycles);
    const double dP99 = Percentile(probe.m_delaysMs, 0.99);
    std::printf("  p50 %.2f ms, p99 %.2f ms, max %.2f ms over %zu events; goal p99 <= 50 ms: %s\n",
                Percentile(probe.m_delaysMs, 0.5), dP99, Percentile(probe.m_delaysMs, 1.0),
                probe.m_delaysMs.size(), dP99 <= 50 ? "met" : "NOT met");
}

// Opens test windows until there are nWindows in views.
bool OpenWindows(CMainFrame* pFrame, int nWindows, std::vector<CRegprobeView*>& views) {
    while (int(views.size()) < nWindows) {
        pFrame->SendCommand(ID_FILE_NEW);
        CMDIChildWnd* pChild = pFrame->MDIGetActive();
        auto* pView = pChild ? dynamic_cast<CRegprobeView*>(pChild->GetActiveView()) : nullptr;
        if (pView == nullptr) {
            std::fprintf(stderr, "no test window\n");
            return false;
        }
        views.push_back(pView);
    }
    return true;
}

// A simulator with ten holding registers; its port, or 0.
WORD StartSimulator(CChild& sim) {
    std::string strLine;
    const std::string strPrefix = "listening on 127.0.0.1:";
    if (!sim.Start({REGPROBE_SIM_PROGRAM, "--listen", "127.0.0.1:0", "--max-clients", "64",
                    "--holding", "0=1,2,3,4,5,6,7,8,9,10"}) ||
        !sim.ReadLine(strLine, 10000) || strLine.rfind(strPrefix, 0) != 0) {
        std::fprintf(stderr, "regprobe-sim did not start: %s\n", strLine.c_str());
        return 0;
    }
    return WORD(std::atoi(strLine.substr(strPrefix.size()).c_str()));
}
}  // namespace

int main(int argc, char** argv) {
    Options opt;
    const int rc = StartBench(argc, argv,
                              {{"--rounds", &opt.nRounds, 3},
                               {"--millis", &opt.nMillis, 100},
                               {"--windows", &opt.nWindows, 1, 64},
                               {"--latency-millis", &opt.nLatencyMillis, 100},
                               {"--cpu", &opt.nCpu, -1, 1023},
                               {"--soak-seconds", &opt.nSoakSeconds, 0}},
                              kUsage, opt.nCpu);
    if (rc >= 0) {
        return rc;
    }
    CChild sim;
    const WORD nPort = StartSimulator(sim);
    if (nPort == 0) {
        return 1;
    }

    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    static char szName[] = "regprobe-bench-poll";
    static char szEmbedding[] = "-Embedding";
    static char* appArgv[] = {szName, szEmbedding, nullptr};
    int appArgc = 2;
    AfxSetResourceHandle(&RegprobeResources());
    CRegprobeApp app(appArgc, appArgv);
    if (!app.InitInstance()) {
        std::fprintf(stderr, "the application did not start\n");
        return 1;
    }
    auto* pFrame = dynamic_cast<CMainFrame*>(AfxGetMainWnd());
    const CString strName = "127.0.0.1:" + std::to_string(nPort);
    CConnection* pConnection = theConnections.Add(strName, CONNECTION_OPEN_MODBUS);
    CRemoteModbus* pModbus = pConnection->GetRemoteModbus();
    pModbus->SetReconnect(TRUE);  // as the connection dialog makes it
    if (!pModbus->Connect("127.0.0.1", nPort, 3000)) {
        std::fprintf(stderr, "no connection to the simulator\n");
        return 1;
    }
    std::vector<CRegprobeView*> views;
    if (!OpenWindows(pFrame, opt.nSoakSeconds > 0 ? opt.nWindows : 1, views)) {
        return 1;
    }
    if (opt.nSoakSeconds > 0) {
        const int nResult = Soak(views, opt.nSoakSeconds);
        app.CloseAllDocuments(FALSE);
        theConnections.RemoveAll();
        return nResult;
    }
    if (const int rc = MeasureThroughput(views[0], pModbus, opt); rc != 0) {
        return rc;
    }
    // Latency of the window's thread with several windows polling flat out.
    if (!OpenWindows(pFrame, opt.nWindows, views)) {
        return 1;
    }
    MeasureLatency(views, opt, false);
    MeasureLatency(views, opt, true);
    QCoreApplication::processEvents();
    app.CloseAllDocuments(FALSE);
    theConnections.RemoveAll();
    return 0;
}
