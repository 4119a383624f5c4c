// The Tools windows in the application, offscreen, against the simulator: a
// unit scan (also while the connection is polled), an address scan, a raw
// request, refused fields, Cancel, and the CSV saved as the poller writes it.
#include <QComboBox>
#include <QLineEdit>
#include <atomic>
#include <sstream>
#include <thread>

#include "connections/Connections.h"
#include "res/Resource.h"
#include "scan/ui/ToolWindows.h"
#include "shell/MainFrm.h"
#include "shell/WorkspaceSession.h"
#include "tests/support/FileLines.h"
#include "tests/support/TempDir.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "transport/RemoteModbus.h"

namespace {
using namespace std::chrono_literals;

class ToolWindows : public CFrameTest {
protected:
    // A connection to a simulator started with options, by the name the
    // dialog gives.
    CRemoteModbus* AddDevice(std::vector<std::string> options) {
        m_pSim = std::make_unique<CTcpSim>(std::move(options));
        m_strName = "127.0.0.1:" + m_pSim->Port();
        CRemoteModbus* pModbus =
            theConnections.Add(m_strName, CONNECTION_OPEN_MODBUS)->GetRemoteModbus();
        EXPECT_TRUE(pModbus->Connect("127.0.0.1", m_pSim->m_nPort, 400));
        return pModbus;
    }
    CToolWnd* Open(UINT nID) {
        m_pFrame->SendCommand(nID);
        CToolWnd* pWnd = m_pFrame->GetToolWnd(nID);
        EXPECT_NE(pWnd, nullptr);
        return pWnd;
    }
    static void Set(CToolWnd* pWnd, const char* pszField, const char* pszText) {
        auto* pEdit = pWnd->findChild<QLineEdit*>(pszField);
        ASSERT_NE(pEdit, nullptr) << pszField;
        pEdit->setText(pszText);
    }
    static QString Status(CToolWnd* pWnd) { return pWnd->StatusText(); }
    // Starts and waits for the end.
    static void Run(CToolWnd* pWnd) {
        ASSERT_TRUE(pWnd->Start()) << Status(pWnd).toStdString();
        ASSERT_TRUE(WaitFor([pWnd] { return !pWnd->IsRunning(); }, 20s));
    }

    std::unique_ptr<CTcpSim> m_pSim;
    CString m_strName;
};

TEST_F(ToolWindows, UnitScanGoesOnBesidePollingOfTheSameConnection) {
    CRemoteModbus* pModbus = AddDevice({"--units", "1-3", "--holding", "0=5"});
    // A poller on the same master all along: the lock keeps the exchanges
    // apart, so neither side sees the other's answers.
    std::atomic<bool> bStop{false};
    std::atomic<int> nReads{0}, nBad{0};
    std::thread poller([&] {
        for (int i = 0; i < 100000 && !bStop; ++i) {
            CWordArray values(1);
            const bool bOk = pModbus->ReadOutputRegisters(1, 0, 1, values) == 0 && values[0] == 5;
            (bOk ? nReads : nBad)++;
        }
    });
    CToolWnd* pWnd = Open(ID_TOOLS_SCAN_UNITS);
    Set(pWnd, "last", "4");
    Run(pWnd);
    bStop = true;
    poller.join();
    EXPECT_GT(nReads.load(), 0);
    const std::string strText = pWnd->ResultText().toStdString();
    EXPECT_NE(strText.find("unit 3: data"), std::string::npos) << strText;
    EXPECT_NE(strText.find("unit 4: silent"), std::string::npos) << strText;
    EXPECT_EQ(Status(pWnd).toStdString(), "units that answered: 1, 2, 3");
    // A silent unit costs a Modbus/TCP master its connection; the scan
    // leaves it made again for the windows polling it.
    EXPECT_TRUE(pModbus->IsConnected());
    // The poller's CSV: a header, then a line per unit.
    std::istringstream csv(pWnd->ResultCsv());
    std::vector<std::string> lines;
    for (std::string str; std::getline(csv, str);) {
        lines.push_back(str.substr(0, str.rfind(',')));
    }
    EXPECT_EQ(lines,
              (std::vector<std::string>{"unit,result", "1,data", "2,data", "3,data", "4,silent"}));
}

TEST_F(ToolWindows, ARunUsesItsOwnTimeOutHoldsTheConnectionsAndCancelStopsIt) {
    CRemoteModbus* pModbus = AddDevice({"--units", "250"});
    const DWORD dwTimeout = pModbus->GetTimeout();
    CToolWnd* pWnd = Open(ID_TOOLS_SCAN_UNITS);
    Set(pWnd, "timeout", "150");
    ASSERT_TRUE(pWnd->Start());
    // Neither the Connections dialog nor a workspace may take the master
    // the scan is using.
    int nDialogs = 0;
    CMainFrame::SetConnectionsDialog([&nDialogs] { ++nDialogs; });
    m_pFrame->SendCommand(ID_OPTIONS_CONNECTIONS);
    EXPECT_EQ(nDialogs, 0);
    CTempDir dir;
    EXPECT_FALSE(m_pFrame->GetWorkspace()->Open(dir.Path() + "/any.rpw"));
    EXPECT_EQ(m_boxes.Texts(),
              (std::vector<CString>{"Cancel the Tools window's run before configuring connections",
                                    "Cancel the Tools window's run before opening a workspace"}));
    EXPECT_EQ(theConnections.GetCount(), 1);
    ASSERT_TRUE(WaitFor([pWnd] { return pWnd->ResultText().count('\n') >= 2; }, 5s));
    // Two silent units took about 300 ms: the connection's own time-out was
    // not used, nor changed.
    EXPECT_EQ(pModbus->GetTimeout(), dwTimeout);
    pWnd->Cancel();
    ASSERT_TRUE(WaitFor([pWnd] { return !pWnd->IsRunning(); }, 2s));
    EXPECT_EQ(Status(pWnd).left(16).toStdString(), "Cancelled after ");
    EXPECT_LT(pWnd->ResultText().count('\n'), 20);
}

TEST_F(ToolWindows, GoesOnlyOnceItsRunHasLeftTheMaster) {
    AddDevice({"--units", "250"});
    auto pWnd = std::make_unique<CScanUnitsWnd>();
    Set(pWnd.get(), "last", "9");
    ASSERT_TRUE(pWnd->Start());
    Pump(100ms);
    // The scan is inside a silent unit's exchange (400 ms): the window waits
    // for it, so the master may go as soon as the window has (the sanitizer
    // builds see a master used after it went).
    const auto t0 = std::chrono::steady_clock::now();
    pWnd.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    theConnections.Remove(m_strName);
    Pump(600ms);
}

TEST_F(ToolWindows, AddressScanFindsTheTablesRangesAndSavesThemAsCsv) {
    AddDevice({"--size", "holding=1050"});
    CToolWnd* pWnd = Open(ID_TOOLS_SCAN_ADDRESSES);
    Run(pWnd);
    EXPECT_EQ(pWnd->ResultText().toStdString(), "0-1049\n");
    EXPECT_NE(Status(pWnd).indexOf("1 range in "), -1) << Status(pWnd).toStdString();
    CTempDir dir;
    const std::string strPath = dir.Path() + "/ranges.csv";
    pWnd->m_chooseFile = [&] { return QString::fromStdString(strPath); };
    ASSERT_TRUE(pWnd->Save());
    EXPECT_EQ(FileText(strPath), "first,last\n0,1049\n");
}

struct CRequestCase {
    std::string strRequest;
    const char* pszShown;  // in the result text, or the refusal
    bool bSent;
};

void PrintTo(const CRequestCase& c, std::ostream* pOut) {
    *pOut << '"' << c.strRequest.substr(0, 20) << '"';
}

// Function code and 254 data bytes: one more than a frame holds.
std::string LongRequest() {
    std::string str = "10";
    for (int i = 0; i < 254; ++i) {
        str += " 00";
    }
    return str;
}

class ToolWindowsRequest : public ToolWindows,
                           public ::testing::WithParamInterface<CRequestCase> {};

TEST_P(ToolWindowsRequest, SendsAnyFunctionOrSaysWhyNot) {
    AddDevice({"--holding", "0=11,22,33"});
    CToolWnd* pWnd = Open(ID_TOOLS_SEND_REQUEST);
    Set(pWnd, "request", GetParam().strRequest.c_str());
    if (!GetParam().bSent) {
        EXPECT_FALSE(pWnd->Start());
        EXPECT_NE(Status(pWnd).indexOf(GetParam().pszShown), -1) << Status(pWnd).toStdString();
        return;
    }
    Run(pWnd);
    EXPECT_NE(pWnd->ResultText().indexOf(GetParam().pszShown), -1)
        << pWnd->ResultText().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ToolWindowsRequest,
    ::testing::Values(CRequestCase{"03 0000 0003", "read holding registers: 11 22 33", true},
                      // Mask write: (22 AND 0xF2) OR (0x25 AND NOT 0xF2) = 0x17.
                      CRequestCase{"16 0001 00F2 0025", "mask write register", true},
                      CRequestCase{"03 FFF0 0020", "exception 2 (illegal data address)", true},
                      CRequestCase{"03 00 0", "pairs of hex digits", false},
                      CRequestCase{"", "pairs of hex digits", false},
                      CRequestCase{LongRequest(), "at most 253 bytes", false}));

TEST_F(ToolWindows, RefusesFieldsOutOfRangeBeforeAnyExchange) {
    AddDevice({});
    CToolWnd* pWnd = Open(ID_TOOLS_SCAN_UNITS);
    Set(pWnd, "first", "10");
    Set(pWnd, "last", "9");
    EXPECT_FALSE(pWnd->Start());
    EXPECT_EQ(Status(pWnd).toStdString(),
              "The last unit must be a number from 10 to 255, not '9'.");
    Set(pWnd, "last", "12");
    Set(pWnd, "quantity", "126");
    EXPECT_FALSE(pWnd->Start());
    EXPECT_NE(Status(pWnd).indexOf("from 1 to 125"), -1);
    EXPECT_FALSE(pWnd->IsRunning());
}

}  // namespace
