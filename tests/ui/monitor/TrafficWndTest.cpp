// The traffic monitor in the application, offscreen: one window from the View
// menu, the exchanges of every connection as two lines each, the filter,
// pause, clear, copy and save, and no capture once it is closed.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QScrollBar>
#include <QTableView>
#include <filesystem>

#include "connections/Connections.h"
#include "core/Traffic.h"
#include "monitor/TrafficWnd.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "tests/support/FileLines.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "transport/RemoteModbus.h"

namespace {
using namespace std::chrono_literals;

class TrafficMonitor : public CFrameTest {
protected:
    void TearDown() override {
        Traffic::Ring().Clear();
        CFrameTest::TearDown();
    }
    // A connection to a simulator of its own, by the name the dialog gives.
    CRemoteModbus* AddDevice(const char* pszHolding) {
        const WORD nPort = m_sims
                               .emplace_back(std::make_unique<CTcpSim>(
                                   std::vector<std::string>{"--holding", pszHolding}))
                               ->m_nPort;
        const CString strName = "127.0.0.1:" + std::to_string(nPort);
        CRemoteModbus* pModbus =
            theConnections.Add(strName, CONNECTION_OPEN_MODBUS)->GetRemoteModbus();
        EXPECT_TRUE(pModbus->Connect("127.0.0.1", nPort, 3000));
        m_names.push_back(strName);
        return pModbus;
    }
    static QStringList Shown(CTrafficWnd* pWnd) {
        pWnd->Refresh();
        return pWnd->ShownLines(false);
    }
    std::vector<std::unique_ptr<CTcpSim>> m_sims;
    std::vector<CString> m_names;
};

TEST_F(TrafficMonitor, ShowsEveryConnectionsExchangesAndCapturesOnlyWhileOpen) {
    CRemoteModbus* pFirst = AddDevice("0=7,8");
    CRemoteModbus* pSecond = AddDevice("0=9");
    CWordArray words(2);
    pFirst->ReadOutputRegisters(1, 0, 2, words);  // before the monitor: not kept
    m_pFrame->SendCommand(ID_VIEW_TRAFFIC);
    CTrafficWnd* pWnd = m_pFrame->GetTrafficWnd();
    ASSERT_NE(pWnd, nullptr);
    EXPECT_TRUE(pWnd->isVisible());
    EXPECT_EQ(Traffic::Current(), &Traffic::Ring());

    ASSERT_EQ(pFirst->ReadOutputRegisters(1, 0, 2, words), 0);
    CWordArray one(1);
    ASSERT_EQ(pSecond->ReadOutputRegisters(1, 0, 1, one), 0);
    QStringList lines = Shown(pWnd);
    ASSERT_EQ(lines.size(), 4);
    const QString first = QString::fromStdString(m_names[0]);
    const QString second = QString::fromStdString(m_names[1]);
    EXPECT_TRUE(lines[0].endsWith("  " + first +
                                  "  >  00 00 00 00 00 06 01 03 00 00 00 02  unit 1: read "
                                  "holding registers, address 0, quantity 2"))
        << lines[0].toStdString();
    EXPECT_TRUE(
        lines[1].contains("  " + first + "  <  00 00 00 00 00 07 01 03 04 00 07 00 08  Ok  "))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[3].contains("  " + second + "  <  00 00 00 00 00 05 01 03 02 00 09  Ok  "))
        << lines[3].toStdString();

    // The filter offers each connection seen and shows only its lines.
    pWnd->m_comboConnection->setCurrentIndex(pWnd->m_comboConnection->findText(second));
    EXPECT_EQ(pWnd->ShownLines(false), (QStringList{lines[2], lines[3]}));
    pWnd->m_comboConnection->setCurrentIndex(0);

    // Paused, the window holds still; resumed, it catches up.
    pWnd->m_checkPause->setChecked(true);
    pSecond->ReadOutputRegisters(1, 0, 1, one);
    Pump(400ms);
    EXPECT_EQ(pWnd->ShownLines(false).size(), 4);
    pWnd->m_checkPause->setChecked(false);
    EXPECT_EQ(pWnd->ShownLines(false).size(), 6);

    // With REGPROBE_PICTURE set, the window is saved there as a PNG.
    if (const char* pszPicture = std::getenv("REGPROBE_PICTURE")) {
        pWnd->resize(1280, 260);
        Pump(200ms);
        EXPECT_TRUE(pWnd->grab().save(pszPicture, "PNG")) << pszPicture;
    }

    // Copy takes the selected lines; Save As the lines shown.
    pWnd->m_table->selectRow(1);
    pWnd->OnCopy();
    EXPECT_EQ(QApplication::clipboard()->text(), lines[1] + "\n");
    const std::string strPath = std::filesystem::temp_directory_path() / "regprobe-traffic.txt";
    pWnd->m_chooseFile = [&] { return QString::fromStdString(strPath); };
    ASSERT_TRUE(pWnd->OnSaveAs());
    const std::string strSaved = FileText(strPath);
    std::filesystem::remove(strPath);
    EXPECT_EQ(QString::fromStdString(strSaved), pWnd->ShownLines(false).join('\n') + "\n");
    pWnd->m_chooseFile = [] { return QString("/nonexistent/dir/traffic.txt"); };
    EXPECT_FALSE(pWnd->OnSaveAs());
    ASSERT_EQ(m_boxes.Texts().size(), 1u);
    EXPECT_EQ(m_boxes.Texts()[0].rfind("Traffic not saved to /nonexistent/dir/traffic.txt: ", 0),
              0u);

    pWnd->OnClear();
    EXPECT_TRUE(Shown(pWnd).isEmpty());
    EXPECT_EQ(Traffic::Ring().Size(), 0u);

    // Closed, nothing is captured; opened again, the same window captures.
    pWnd->close();
    EXPECT_EQ(Traffic::Current(), nullptr);
    pFirst->ReadOutputRegisters(1, 0, 2, words);
    EXPECT_EQ(Traffic::Ring().Size(), 0u);
    m_pFrame->SendCommand(ID_VIEW_TRAFFIC);
    EXPECT_EQ(m_pFrame->GetTrafficWnd(), pWnd);
    pFirst->ReadOutputRegisters(1, 0, 2, words);
    EXPECT_EQ(Shown(pWnd).size(), 2);
}

// A long answer: its meaning shows first, bounded; the window needs no
// horizontal scroll; the tool tip carries every byte.
TEST_F(TrafficMonitor, LongFramesShowTheirMeaningAndWholeBytesInTheToolTip) {
    CRemoteModbus* pModbus = AddDevice("0=7,8");
    m_pFrame->SendCommand(ID_VIEW_TRAFFIC);
    CTrafficWnd* pWnd = m_pFrame->GetTrafficWnd();
    ASSERT_NE(pWnd, nullptr);
    CWordArray words(100);
    ASSERT_EQ(pModbus->ReadOutputRegisters(1, 0, 100, words), 0);
    ASSERT_EQ(Shown(pWnd).size(), 2);
    Pump(100ms);

    const QAbstractItemModel* pModel = pWnd->m_table->model();
    EXPECT_EQ(pModel->headerData(CTrafficModel::DECODED, Qt::Horizontal).toString(), "Decoded");
    const QString strDecoded = pModel->index(1, CTrafficModel::DECODED).data().toString();
    EXPECT_TRUE(strDecoded.startsWith("unit 1: read holding registers: 7 8 0 0 "))
        << strDecoded.toStdString();
    EXPECT_TRUE(strDecoded.endsWith(" ... (84 more)")) << strDecoded.toStdString();
    const QString strBytes = pModel->index(1, CTrafficModel::BYTES).data().toString();
    EXPECT_EQ(strBytes.size(), 3 * (6 + 1 + 2 + 200) - 1);
    EXPECT_EQ(pWnd->m_table->horizontalScrollBar()->maximum(), 0);

    QStringList tip =
        pModel->index(1, CTrafficModel::BYTES).data(Qt::ToolTipRole).toString().split('\n');
    ASSERT_GE(tip.size(), 2);
    EXPECT_EQ(tip.takeFirst(), strDecoded);
    for (const QString& strLine : tip) {
        EXPECT_LE(strLine.size(), 3 * CTrafficModel::TIP_BYTES_PER_LINE - 1);
    }
    EXPECT_EQ(tip.join(' '), strBytes);
}

}  // namespace
