// The device test window in the application, offscreen, its controls found
// by id, polling and writing a real simulator.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <fstream>

#include <sys/resource.h>
#include <unistd.h>

#include "connections/Connections.h"
#include "platform/ui/DocTemplate.h"
#include "platform/ui/MDIChildWnd.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "tests/support/FileLines.h"
#include "tests/support/TempDir.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "testview/ValueLog.h"
#include "testview/ui/RegprobeView.h"
#include "testview/ui/TrendChart.h"
#include "transport/RemoteModbus.h"

namespace {
using namespace std::chrono_literals;
using Rows = std::vector<CString>;

class TestView : public CFrameTest {
protected:
    void TearDown() override {
        // The workers go before the connections they read.
        m_app.CloseAllDocuments(FALSE);
        CFrameTest::TearDown();
    }

    // regprobe-sim on 127.0.0.1, a free port, with the given options; the
    // connection's name.
    CString AddSim(std::vector<std::string> options, DWORD dwTimeout = 3000) {
        const WORD nPort = m_sims.emplace_back(std::make_unique<CTcpSim>(options))->m_nPort;
        if (nPort == 0) {
            ADD_FAILURE() << "no simulator";
            return CString();
        }
        const CString strName = "127.0.0.1:" + std::to_string(nPort);
        CConnection* pConnection = theConnections.Add(strName, CONNECTION_OPEN_MODBUS);
        CRemoteModbus* pModbus = pConnection->GetRemoteModbus();
        pModbus->SetReconnect(TRUE);
        EXPECT_TRUE(pModbus->Connect("127.0.0.1", nPort, dwTimeout));
        return strName;
    }

    // A window on a new simulator (AddSim's arguments).
    CRegprobeView* OpenSim(std::vector<std::string> options, DWORD dwTimeout = 3000) {
        AddSim(std::move(options), dwTimeout);
        return OpenWindow();
    }
    CRegprobeView* OpenWindow(UINT nCommand = ID_FILE_NEW) {
        m_pFrame->SendCommand(nCommand);
        CMDIChildWnd* pChild = m_pFrame->MDIGetActive();
        return pChild ? dynamic_cast<CRegprobeView*>(pChild->GetActiveView()) : nullptr;
    }

    static void Choose(QComboBox* pCombo, const QString& text) {
        const int nIndex = pCombo->findText(text);
        ASSERT_GE(nIndex, 0) << text.toStdString();
        pCombo->setCurrentIndex(nIndex);
        emit pCombo->activated(nIndex);
    }

    static Rows List(const CRegprobeView* pView) {
        Rows rows;
        for (int i = 0; i < pView->m_listValues->count(); ++i) {
            rows.push_back(pView->m_listValues->item(i)->text().toStdString());
        }
        return rows;
    }

    static int Cycles(const CRegprobeView* pView) {
        return pView->m_staticStatistics->text().section(' ', 0, 0).toInt();
    }

    static void Poll(CRegprobeView* pView, const char* pszInterval) {
        pView->m_editInterval->setText(pszInterval);
        pView->m_checkEnablePoll->click();
        ASSERT_TRUE(pView->IsPolling());
    }

    // Unticks the box and waits until the worker has ended and its last
    // cycle is on the screen.
    static bool Stop(CRegprobeView* pView) {
        QObject context;
        bool bEnded = false;
        QObject::connect(pView, &CRegprobeView::WorkerEnded, &context, [&] { bEnded = true; });
        pView->m_checkEnablePoll->click();
        return WaitFor([&] { return bEnded && !pView->IsPolling(); });
    }

    std::vector<std::unique_ptr<CTcpSim>> m_sims;
};

TEST_F(TestView, PollShowsValuesAndAChangedReadAtTheNextCycle) {
    CRegprobeView* pView =
        OpenSim({"--holding", "0=11,22,-1", "--float", "10=1.5", "--coils", "4=1,0,1"});
    ASSERT_NE(pView, nullptr);
    pView->m_editQuantity->setText("3");
    Poll(pView, "0");
    EXPECT_TRUE(WaitFor([&] {
        return List(pView) == Rows{"[0]=11 0xb", "[1]=22 0x16", "[2]=-1 0xffff"};
    }));
    EXPECT_EQ(pView->m_staticResult->text(), "Ok");
    const QRegularExpression statistics(R"(^\d+ Errors=0  \d+\.\d\d\(Up\./s\) $)");
    EXPECT_TRUE(statistics.match(pView->m_staticStatistics->text()).hasMatch())
        << pView->m_staticStatistics->text().toStdString();

    Choose(pView->m_comboDataType, "float - 32");
    pView->m_editReadAddress->setText("10");
    pView->m_editQuantity->setText("1");
    EXPECT_TRUE(WaitFor([&] { return List(pView) == Rows{"[10]=1.5 "}; }));
    Choose(pView->m_comboReadFunction, "Read Ouput Status");
    pView->m_editReadAddress->setText("4");
    pView->m_editQuantity->setText("3");
    EXPECT_TRUE(WaitFor([&] { return List(pView) == Rows{"[4]=1 ", "[5]=0 ", "[6]=1 "}; }));

    // Stopped, the lines keep their last texts; a restart counts afresh.
    ASSERT_TRUE(Stop(pView));
    const QString strLast = pView->m_staticStatistics->text();
    Pump(100ms);
    EXPECT_EQ(pView->m_staticStatistics->text(), strLast);
    EXPECT_GT(Cycles(pView), 2);
    Poll(pView, "5000");
    ASSERT_TRUE(Stop(pView));
    Poll(pView, "20");
    EXPECT_TRUE(WaitFor([&] { return Cycles(pView) == 1; }));
}

TEST_F(TestView, StartsWithTheDefaultsAndRefusesAnIntervalAboveTheMaximum) {
    const CString strName = AddSim({});
    CRegprobeView* pView = OpenWindow();
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->m_comboConnection->currentText().toStdString(), strName);
    EXPECT_EQ(pView->m_comboReadFunction->currentText(), "Read Output Registers");
    EXPECT_EQ(pView->m_comboDataType->currentText(), "signed - 16");
    // The first seven data types as they always were, the wider ones after,
    // the 64-bit ones last.
    EXPECT_EQ(pView->m_comboDataType->itemText(6), "double - 64 reverse");
    EXPECT_EQ(pView->m_comboDataType->itemText(7), "signed - 32 ABCD");
    EXPECT_EQ(pView->m_comboDataType->itemText(20), "binary - 16");
    EXPECT_EQ(pView->m_comboDataType->itemText(21), "signed - 64 ABCD");
    // Where the style drops down a scrolling list, a good part of the 33 shows.
    EXPECT_GE(pView->m_comboDataType->maxVisibleItems(), 12);
    EXPECT_EQ(pView->m_dwInterval, 1000u);
    EXPECT_FALSE(pView->IsPolling());

    // Typed or found when polling starts, an interval above 10 s is refused.
    pView->m_editInterval->clear();
    EXPECT_EQ(pView->m_dwInterval, 0u);
    QTest::keyClicks(pView->m_editInterval, "1200");
    EXPECT_EQ(pView->m_dwInterval, 1200u);
    EXPECT_TRUE(m_boxes.Texts().empty());
    QTest::keyClicks(pView->m_editInterval, "0");
    EXPECT_EQ(m_boxes.Texts(), Rows{"Max. Interval is 10000 ms"});
    EXPECT_EQ(pView->m_editInterval->text(), "10000");
    EXPECT_EQ(pView->m_dwInterval, 10000u);

    // Checking the box with 20000 (or a negative value) starts nothing.
    for (const char* psz : {"20000", "-5"}) {
        m_boxes.m_boxes.clear();
        const QSignalBlocker quiet(pView->m_editInterval);  // as if typed before
        pView->m_editInterval->setText(psz);
        pView->m_checkEnablePoll->setChecked(false);
        pView->m_checkEnablePoll->click();
        EXPECT_EQ(m_boxes.Texts(), Rows{"Max. Interval is 10000 ms"});
        EXPECT_EQ(pView->m_editInterval->text(), "10000");
        EXPECT_TRUE(pView->m_checkEnablePoll->isChecked());
        EXPECT_FALSE(pView->IsPolling());
    }
}

TEST_F(TestView, WritesReachTheDeviceAndShowAtTheNextCycle) {
    const CString strName = AddSim({"--size", "holding=100", "--size", "coils=100"});
    CConnection* pConnection = nullptr;
    ASSERT_TRUE(theConnections.Lookup(strName, pConnection));
    CRegprobeView* pView = OpenWindow();
    ASSERT_NE(pView, nullptr);
    pView->m_editQuantity->setText("8");
    Poll(pView, "0");

    auto write = [&](const char* pszFunction, const char* pszType, const char* pszAddress,
                     const char* pszValue) {
        Choose(pView->m_comboWriteFunction, pszFunction);
        Choose(pView->m_comboDataType, pszType);
        pView->m_editWriteAddress->setText(pszAddress);
        pView->m_editWriteValue->setText(pszValue);
        pView->m_btnWrite->click();
    };
    // Read back over a connection of the test's own.
    CRemoteModbus check;
    ASSERT_TRUE(check.Connect("127.0.0.1", pConnection->GetRemoteModbus()->GetPort(), 3000));
    auto registers = [&](WORD wAddress, WORD wCount) {
        CWordArray values(wCount);
        EXPECT_EQ(check.ReadOutputRegisters(1, wAddress, wCount, values), 0);
        return values;
    };
    // The status bar says what went where, and the round trip.
    auto shown = [&] {
        return QString::fromStdString(m_pFrame->m_wndStatusBar.GetMessageText())
            .replace(QRegularExpression(R"( \(\d+\.\d\d ms\)$)"), " (ms)")
            .toStdString();
    };
    pView->m_editDevice->setText("11");
    write("Preset Single Register", "unsigned - 16", "5", "4321");
    EXPECT_EQ(shown(), "Wrote 4321 to holding register 5 of device 11 (ms)");
    // With REGPROBE_PICTURE set, the frame is saved there as a PNG.
    if (const char* pszPicture = std::getenv("REGPROBE_PICTURE")) {
        m_pFrame->resize(900, 600);
        QTest::qWait(200);
        EXPECT_TRUE(m_pFrame->grab().save(pszPicture, "PNG")) << pszPicture;
    }
    pView->m_editDevice->setText("1");
    write("Preset Single Register", "signed - 16", "1", "-1");
    EXPECT_EQ(shown(), "Wrote -1 to holding register 1 of device 1 (ms)");
    EXPECT_EQ(registers(1, 1), CWordArray{0xFFFF});
    EXPECT_TRUE(
        WaitFor([&] { return List(pView).size() == 8 && List(pView)[1] == "[1]=-1 0xffff"; }));
    // Each type's conversion is WriteOnce's; here a two-register one.
    write("Preset Single Register", "float - 32 reverse", "4", "1.5");
    EXPECT_EQ(shown(), "Wrote 1.5 to holding register 4 of device 1 (ms)");
    EXPECT_EQ(registers(4, 2), (CWordArray{0x3FC0, 0x0000}));
    // 70000 is register 4464, past the device's 100: refused by the device,
    // and the last success no longer shows.
    write("Preset Single Register", "double - 64", "70000", "1");
    EXPECT_EQ(shown(), "Ready");
    write("Force Single Coil", "char", "3", "1");
    EXPECT_EQ(shown(), "Wrote 1 to coil 3 of device 1 (ms)");
    CByteArray coil(1);
    EXPECT_EQ(check.ReadOutputStatus(1, 3, 1, coil), 0);
    EXPECT_EQ(coil[0], 1);
    // Every write but the one outside the table went through silently.
    EXPECT_EQ(m_boxes.Texts(), Rows{"Modbus device return an exception code 2"});
}

TEST_F(TestView, AFailingOrThrowingMasterIsReportedAndPollingGoesOn) {
    const CString strName = AddSim({"--fault", "exception=2@fn3", "--fault", "exception=4@fn6"});
    CRegprobeView* pView = OpenWindow();
    ASSERT_NE(pView, nullptr);
    pView->m_editWriteValue->setText("5");
    pView->m_btnWrite->click();
    EXPECT_EQ(m_boxes.Texts(), Rows{"Modbus device return an exception code 4"});

    CConnection* pConnection = nullptr;
    ASSERT_TRUE(theConnections.Lookup(strName, pConnection));
    pConnection->m_pModbus->m_bThrowOnError = TRUE;
    pView->m_btnWrite->click();
    EXPECT_EQ(m_boxes.Texts().back(), "Modbus device return an exception code 4 error #32772");
    Poll(pView, "0");
    EXPECT_TRUE(WaitFor([&] { return Cycles(pView) > 20; }));
    EXPECT_EQ(pView->m_staticResult->text(),
              "Modbus device return an exception code 2 error #32770");
    const QString strStatistics = pView->m_staticStatistics->text();
    EXPECT_TRUE(strStatistics.startsWith(QString("%1 Errors=%1  ").arg(Cycles(pView))))
        << strStatistics.toStdString();
    EXPECT_TRUE(pView->IsPolling());
    ASSERT_TRUE(Stop(pView));
}

// Three windows of one document, each with its own worker: closing one
// stops only its worker; closing the document returns after the reads in
// progress, not after the 10 s intervals.
TEST_F(TestView, ClosingAWindowOrTheDocumentStopsOnlyItsWorkersAndReturns) {
    CRegprobeView* pFirst = OpenSim({"--holding", "0=7"});
    ASSERT_NE(pFirst, nullptr);
    Poll(pFirst, "0");
    std::vector<QPointer<CMDIChildWnd>> more;
    for (int i = 0; i < 2; ++i) {
        CRegprobeView* pMore = OpenWindow(ID_WINDOW_NEW);
        ASSERT_NE(pMore, nullptr);
        ASSERT_NE(pMore, pFirst);
        Poll(pMore, "10000");
        more.emplace_back(pMore->GetParentFrame());
    }
    EXPECT_EQ(m_pFrame->GetMDIClient()->subWindowList().size(), 3);
    Pump(100ms);
    QElapsedTimer timer;
    timer.start();
    more.back()->close();
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_TRUE(WaitFor([&] { return more.back().isNull(); }));
    const int nCycles = Cycles(pFirst);
    EXPECT_TRUE(WaitFor([&] { return Cycles(pFirst) > nCycles + 10; }));
    EXPECT_TRUE(pFirst->IsPolling());
    EXPECT_EQ(m_app.GetDocTemplates().front()->GetDocuments().size(), 1u);

    timer.restart();
    m_pFrame->SendCommand(ID_FILE_CLOSE);
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_TRUE(m_app.GetDocTemplates().front()->GetDocuments().empty());
    EXPECT_TRUE(WaitFor([&] { return m_pFrame->GetMDIClient()->subWindowList().isEmpty(); }));
}

TEST_F(TestView, TickingAgainWhileTheWorkerEndsKeepsPolling) {
    CRegprobeView* pView = OpenSim({"--fault", "delay=300"});
    ASSERT_NE(pView, nullptr);
    Poll(pView, "0");
    Pump(50ms);  // inside the first read
    pView->m_checkEnablePoll->click();
    EXPECT_FALSE(pView->m_checkEnablePoll->isChecked());
    pView->m_checkEnablePoll->click();
    EXPECT_TRUE(pView->m_checkEnablePoll->isChecked());
    // The stopped worker ends after its read; a new one takes over.
    EXPECT_TRUE(WaitFor([&] { return Cycles(pView) == 1; }));
    EXPECT_TRUE(WaitFor([&] { return Cycles(pView) == 2; }));
    EXPECT_TRUE(pView->IsPolling());
}

TEST_F(TestView, TwoWindowsPollTwoDevicesEachWithItsOwnStatistics) {
    const CString strFirst = AddSim({"--holding", "0=100"});
    const CString strSecond = AddSim({"--holding", "0=200"});
    CRegprobeView* pViews[2] = {OpenWindow(), OpenWindow()};
    ASSERT_NE(pViews[0], nullptr);
    ASSERT_NE(pViews[1], nullptr);
    Choose(pViews[0]->m_comboConnection, QString::fromStdString(strFirst));
    Choose(pViews[1]->m_comboConnection, QString::fromStdString(strSecond));
    for (CRegprobeView* pView : pViews) {
        pView->m_editQuantity->setText("1");
    }
    Poll(pViews[0], "0");
    Poll(pViews[1], "20");
    EXPECT_TRUE(WaitFor([&] { return List(pViews[0]) == Rows{"[0]=100 0x64"}; }));
    EXPECT_TRUE(WaitFor([&] { return List(pViews[1]) == Rows{"[0]=200 0xc8"}; }));
    EXPECT_TRUE(WaitFor([&] { return Cycles(pViews[0]) > 100 && Cycles(pViews[1]) > 5; }));
    // Back to back against every 20 ms: the first counts far more.
    EXPECT_GT(Cycles(pViews[0]), 3 * Cycles(pViews[1]));
}

TEST_F(TestView, ExitRequestedWhileACloseWaitsComesBackAfterIt) {
    CRegprobeView* pView = OpenSim({"--fault", "delay=400"});
    ASSERT_NE(pView, nullptr);
    Poll(pView, "0");
    Pump(100ms);  // inside a read
    QPointer<CMainFrame> pFrame(m_pFrame);
    // The close box of the main window, pressed while the document waits.
    QTimer::singleShot(50, m_pFrame, [this] { m_pFrame->close(); });
    m_pFrame->SendCommand(ID_FILE_CLOSE);
    EXPECT_TRUE(m_app.GetDocTemplates().front()->GetDocuments().empty());
    EXPECT_TRUE(WaitFor([&] { return pFrame.isNull(); }));
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
}
}  // namespace

TEST_F(TestView, ReadTimesShowTheDevicesDelayAndCountTimeOutsApart) {
    CRegprobeView* pView = OpenSim({"--fault", "delay=20"});
    ASSERT_NE(pView, nullptr);
    ASSERT_NE(pView->m_staticResponseTimes, nullptr);
    EXPECT_TRUE(pView->m_staticResponseTimes->text().isEmpty());
    Poll(pView, "0");
    EXPECT_TRUE(WaitFor([&] { return Cycles(pView) >= 5; }));
    ASSERT_TRUE(Stop(pView));
    // "Read 20.114 ms  min 20.050 / mean ... ms  Time-outs 0  49.50 polls/s"
    const QString strTimes = pView->m_staticResponseTimes->text();
    const QRegularExpressionMatch m =
        QRegularExpression(
            "^Read [0-9.]+ ms  min ([0-9.]+) / mean ([0-9.]+) / max ([0-9.]+) / "
            "p99 ([0-9.]+) ms  Time-outs 0  ([0-9.]+) polls/s$")
            .match(strTimes);
    ASSERT_TRUE(m.hasMatch()) << strTimes.toStdString();
    const double dMin = m.captured(1).toDouble(), dMean = m.captured(2).toDouble();
    const double dMax = m.captured(3).toDouble(), dP99 = m.captured(4).toDouble();
    // The delay is a floor; a loaded machine may add to it but never take off.
    EXPECT_GE(dMin, 20.0);
    EXPECT_LT(dMin, 200.0);
    EXPECT_GE(dMean, dMin);
    EXPECT_GE(dMax, dMean);
    EXPECT_GE(dP99, dMin);
    EXPECT_LE(dP99, dMax);
    // Back to back, each cycle at least the delay long: at most 50 a second.
    EXPECT_GT(m.captured(5).toDouble(), 0.0);
    EXPECT_LE(m.captured(5).toDouble(), 50.0);
}

TEST_F(TestView, ATimedOutReadIsATimeOutAndNotAReadTime) {
    // Every answer comes after the connection's 100 ms time-out.
    CRegprobeView* pView = OpenSim({"--fault", "delay=400"}, 100);
    ASSERT_NE(pView, nullptr);
    Poll(pView, "0");
    EXPECT_TRUE(WaitFor([&] { return Cycles(pView) >= 2; }));
    ASSERT_TRUE(Stop(pView));
    const QString strTimes = pView->m_staticResponseTimes->text();
    EXPECT_TRUE(
        QRegularExpression(
            QString("^Read time-out  Time-outs %1  [0-9]+\\.[0-9]{2} polls/s$").arg(Cycles(pView)))
            .match(strTimes)
            .hasMatch())
        << strTimes.toStdString();
    EXPECT_TRUE(
        pView->m_staticStatistics->text().startsWith(QString("%1 Errors=%1  ").arg(Cycles(pView))));
    // The status line says it was a time-out, and how long was waited, once.
    const QString strResult = pView->m_staticResult->text();
    EXPECT_EQ(strResult.count("no answer within 100 ms"), 1) << strResult.toStdString();
    EXPECT_FALSE(strResult.startsWith("no answer")) << strResult.toStdString();
}

class TestViewLog : public TestView {
protected:
    std::vector<std::string> Lines() const { return FileLines(m_strPath); }
    void StartLog(CRegprobeView* pView) {
        pView->m_chooseLogFile = [this] { return m_strPath; };
        pView->m_checkLogToFile->click();
        ASSERT_TRUE(pView->m_checkLogToFile->isChecked());
    }
    CTempDir m_dir;
    std::string m_strPath = m_dir.Path() + "/poll.csv";
};

TEST_F(TestViewLog, OneLinePerCycleUntilUntickedThenAppendedAfterItsHeader) {
    const CString strName = AddSim({});
    CRegprobeView* pView = OpenWindow();
    ASSERT_NE(pView, nullptr);
    pView->m_editQuantity->setText("2");
    StartLog(pView);
    Poll(pView, "0");
    EXPECT_TRUE(WaitFor([&] { return Cycles(pView) >= 5; }));
    ASSERT_TRUE(Stop(pView));
    pView->m_checkLogToFile->click();  // closes the file with every line in it
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), size_t(1 + Cycles(pView)));
    EXPECT_EQ(lines[0], g_szLogHeader);
    static const QRegularExpression re(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z,(.*),1,Read Output Registers,"
        "Ok,\\d+\\.\\d{3},\\[0\\]=0 0x0,\\[1\\]=0 0x0$");
    for (size_t i = 1; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = re.match(QString::fromStdString(lines[i]));
        ASSERT_TRUE(m.hasMatch()) << lines[i];
        EXPECT_EQ(m.captured(1).toStdString(), strName);
    }
    // Polling on without the log adds nothing; logging again appends, no header.
    Poll(pView, "0");
    EXPECT_TRUE(WaitFor([&] { return Cycles(pView) >= 3; }));
    StartLog(pView);
    EXPECT_TRUE(WaitFor([&] { return Lines().size() > lines.size() + 2; }));
    // Closing the window closes the log with its last cycle written.
    m_app.CloseAllDocuments(FALSE);
    const std::vector<std::string> after = Lines();
    EXPECT_EQ(std::count(after.begin(), after.end(), std::string(g_szLogHeader)), 1);
    EXPECT_TRUE(QRegularExpression("Z,.*\\[1\\]=0 0x0$")
                    .match(QString::fromStdString(after.back()))
                    .hasMatch());
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(TestViewLog, AFailedWriteStopsTheLogWithItsMessageAndPollingGoesOn) {
    CRegprobeView* pView = OpenSim({});
    ASSERT_NE(pView, nullptr);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    StartLog(pView);
    rlimit small = old;
    small.rlim_cur = 2000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Poll(pView, "0");
    const bool bStopped = WaitFor([&] { return !m_boxes.Texts().empty(); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(bStopped);
    EXPECT_EQ(m_boxes.Texts().front().rfind("Logging to " + m_strPath + " stopped: ", 0), 0u)
        << m_boxes.Texts().front();
    EXPECT_FALSE(pView->m_checkLogToFile->isChecked());
    const int nCycles = Cycles(pView);
    EXPECT_TRUE(WaitFor([&] { return Cycles(pView) > nCycles + 5; }));
    EXPECT_TRUE(pView->IsPolling());
    ASSERT_TRUE(Stop(pView));
    const std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 2u);
    std::ifstream in(m_strPath, std::ios::ate);
    EXPECT_LE(size_t(in.tellg()), 2000u);
    EXPECT_TRUE(QRegularExpression("Z,.*\\[9\\]=0 0x0$")
                    .match(QString::fromStdString(lines.back()))
                    .hasMatch())
        << lines.back();
}

// Four windows on the same two registers, one order each. With
// REGPROBE_PICTURE set, the main window is saved there as a PNG (README's
// picture).
TEST_F(TestView, OneValueReadInEachOrderInFourWindows) {
    const CString strName = AddSim({"--holding", "40=4660,22136"});  // 0x1234 0x5678
    const std::pair<const char*, const char*> orders[] = {{"ABCD", "[40]=305419896 "},
                                                          {"CDAB", "[40]=1450709556 "},
                                                          {"BADC", "[40]=873625686 "},
                                                          {"DCBA", "[40]=2018915346 "}};
    std::vector<CRegprobeView*> views;
    for (const auto& [pszOrder, pszRow] : orders) {
        CRegprobeView* pView = OpenWindow();
        ASSERT_NE(pView, nullptr);
        pView->m_editReadAddress->setText("40");
        pView->m_editQuantity->setText("1");
        Choose(pView->m_comboDataType, QString("unsigned - 32 ") + pszOrder);
        Poll(pView, "100");
        views.push_back(pView);
        EXPECT_TRUE(WaitFor([&] { return List(pView) == Rows{pszRow}; })) << pszOrder;
    }
    if (const char* pszPicture = std::getenv("REGPROBE_PICTURE")) {
        m_pFrame->resize(1200, 900);
        m_pFrame->GetMDIClient()->tileSubWindows();
        QTest::qWait(500);
        EXPECT_TRUE(m_pFrame->grab().save(pszPicture, "PNG")) << pszPicture;
    }
    for (CRegprobeView* pView : views) {
        ASSERT_TRUE(Stop(pView));
    }
}

// The trend chart's window, toggled from the window's menu: its traces
// follow polling, Pause holds them still while polling goes on, and new
// values are drawn at most about 30 times a second however fast they come.
TEST_F(TestView, ChartToggleFollowsPollingAndPauseHoldsItStill) {
    CRegprobeView* pView = OpenSim({"--holding", "0=11,22,33"});
    ASSERT_NE(pView, nullptr);
    pView->m_editQuantity->setText("3");
    m_pFrame->SendCommand(ID_VIEW_TREND_CHART);
    ASSERT_TRUE(pView->IsChartShown());
    CTrendChart* pChart = pView->GetChart();
    EXPECT_TRUE(pChart->windowTitle().startsWith("Trend Chart - "));
    const CTrendHistory& history = pView->GetTrendHistory();
    Poll(pView, "0");
    ASSERT_TRUE(WaitFor([&] {
        return pChart->m_treeLegend->topLevelItemCount() == 3 &&
               pChart->m_treeLegend->topLevelItem(2)->text(0) == "[2]=33 0x21";
    }));
    EXPECT_EQ(history.TraceCount(), 3u);
    EXPECT_EQ(pChart->m_treeLegend->topLevelItem(0)->checkState(0), Qt::Checked);

    const int nPaints = pChart->m_pPlot->Paints();
    const int nCycles = Cycles(pView);
    Pump(1000ms);
    const int nRedraws = pChart->m_pPlot->Paints() - nPaints;
    EXPECT_GT(Cycles(pView) - nCycles, 100);  // far more reads than redraws
    EXPECT_GE(nRedraws, 5);
    EXPECT_LE(nRedraws, 32);
    EXPECT_EQ(pChart->RightMillis(), history.NewestMillis());

    pChart->m_btnPause->click();
    ASSERT_TRUE(pChart->IsPaused());
    const std::int64_t nRight = pChart->RightMillis();
    Pump(100ms);  // the one redraw that shows it paused
    const int nPaused = pChart->m_pPlot->Paints();
    EXPECT_TRUE(WaitFor([&] { return history.NewestMillis() > nRight + 300; }));
    EXPECT_EQ(pChart->RightMillis(), nRight);
    EXPECT_EQ(pChart->m_pPlot->Paints(), nPaused);
    pChart->m_btnPause->click();
    EXPECT_EQ(pChart->RightMillis(), history.NewestMillis());

    // Unticking a row stops its trace; the others keep theirs.
    pChart->m_treeLegend->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    ASSERT_EQ(history.TraceCount(), 2u);
    EXPECT_EQ(history.TraceRow(1), 2);

    m_pFrame->SendCommand(ID_VIEW_TREND_CHART);
    EXPECT_FALSE(pView->IsChartShown());
    ASSERT_TRUE(Stop(pView));
}

// Export: a PNG of the chart as shown, and a CSV in the value log's columns
// that reads back as the device's values. Other read settings start new
// traces.
TEST_F(TestView, ChartExportsPictureAndValueLogColumnsAndRestartsOnNewSettings) {
    const CString strName = AddSim({"--holding", "0=11,22,33"});
    CRegprobeView* pView = OpenWindow();
    ASSERT_NE(pView, nullptr);
    pView->m_editQuantity->setText("2");
    pView->ShowChart(true);
    CTrendChart* pChart = pView->GetChart();
    Poll(pView, "20");
    const CTrendHistory& history = pView->GetTrendHistory();
    ASSERT_TRUE(WaitFor([&] { return Cycles(pView) > 5 && history.TraceCount() == 2; }));
    CTempDir dir;
    const QString strPng = QString::fromStdString(dir.Path() + "/chart.png");
    const QString strCsv = QString::fromStdString(dir.Path() + "/chart.csv");
    pChart->resize(640, 360);
    Pump(100ms);
    pChart->m_chooseFile = [&](const QString&, const QString&) { return strPng; };
    pChart->m_btnExportPng->click();
    const QImage image(strPng);
    EXPECT_EQ(image.size(), pChart->m_pBody->size() * pChart->m_pBody->devicePixelRatio());
    EXPECT_FALSE(image.isNull());

    pChart->m_chooseFile = [&](const QString&, const QString&) { return strCsv; };
    pChart->m_btnExportCsv->click();
    const std::vector<std::string> lines = FileLines(strCsv.toStdString());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], g_szLogHeader);
    const QRegularExpression line(
        QString(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,%1,1,Read Output Registers,)"
                R"([^,]*,[^,]*,\[0\]=11 0xb,\[1\]=22 0x16$)")
            .arg(QRegularExpression::escape(QString::fromStdString(strName))));
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(line.match(QString::fromStdString(lines[i])).hasMatch()) << lines[i];
    }

    // A new address: the old values are gone from the traces.
    const std::int64_t nBefore = history.NewestMillis();
    pView->m_editReadAddress->setText("1");
    ASSERT_TRUE(WaitFor([&] { return history.Key().nAddress == 1 && history.TraceCount() == 2; }));
    EXPECT_GE(history.OldestMillis(), nBefore);
    EXPECT_EQ(history.TraceLastText(0), "[1]=22 0x16");
    EXPECT_EQ(history.TraceLastText(1), "[2]=33 0x21");
    ASSERT_TRUE(Stop(pView));
}
