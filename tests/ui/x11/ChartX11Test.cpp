// A test window's trend chart under a real window manager: a framed window
// of its own, beside the main window, drawing the simulator's values.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>

#include "connections/Connections.h"
#include "platform/ui/MDIChildWnd.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/ui/x11/X11Support.h"
#include "testview/ui/RegprobeView.h"
#include "testview/ui/TrendChart.h"
#include "transport/RemoteModbus.h"

namespace {
using namespace std::chrono_literals;

class ChartX11Test : public CX11FrameTest {
protected:
    void TearDown() override {
        m_app.CloseAllDocuments(FALSE);
        CX11FrameTest::TearDown();
        theConnections.RemoveAll();
    }
};

// With REGPROBE_PICTURE set, the framed chart is saved there as a PNG after
// half a minute of a sine wave (README's picture).
TEST_F(ChartX11Test, OpensFramedOnItsOwnAndDrawsThePolledValues) {
    CTcpSim sim({"--animate"});
    ASSERT_NE(sim.m_nPort, 0);
    const CString strName = "127.0.0.1:" + sim.Port();
    CConnection* pConnection = theConnections.Add(strName, CONNECTION_OPEN_MODBUS);
    ASSERT_TRUE(pConnection->GetRemoteModbus()->Connect("127.0.0.1", sim.m_nPort, 3000));
    m_pFrame->SendCommand(ID_FILE_NEW);
    CMDIChildWnd* pChild = m_pFrame->MDIGetActive();
    ASSERT_NE(pChild, nullptr);
    auto* pView = dynamic_cast<CRegprobeView*>(pChild->GetActiveView());
    ASSERT_NE(pView, nullptr);
    // Input registers 2 and 3 hold a sine as a float, 20 s a period.
    const bool bPicture = std::getenv("REGPROBE_PICTURE") != nullptr;
    pView->m_comboReadFunction->setCurrentIndex(READ_INPUT_REGISTERS);
    emit pView->m_comboReadFunction->activated(READ_INPUT_REGISTERS);
    pView->m_comboDataType->setCurrentIndex(TYPE_FLOAT);
    emit pView->m_comboDataType->activated(TYPE_FLOAT);
    pView->m_editReadAddress->setText("2");
    pView->m_editQuantity->setText("1");
    pView->m_editInterval->setText("50");
    m_pFrame->move(0, 0);
    m_pFrame->resize(400, 300);
    m_pFrame->SendCommand(ID_VIEW_TREND_CHART);
    CTrendChart* pChart = pView->GetChart();
    ASSERT_NE(pChart, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pChart, 10000));
    pChart->move(420, 40);
    pChart->resize(600, 360);
    pChart->SetSpan(30 * 1000);
    pView->m_checkEnablePoll->click();
    ASSERT_TRUE(pView->IsPolling());

    // Framed by the window manager as a window of its own, named after the
    // test window, not over the main window.
    const WId id = pChart->winId();
    std::vector<unsigned long> extents;
    EXPECT_TRUE(WaitFor([&] {
        extents = PropertyNumbers(WindowProperty(id, "_NET_FRAME_EXTENTS"));
        return extents.size() == 4 && extents[2] > 0;
    }));
    EXPECT_TRUE(WindowProperty(id, "_NET_WM_NAME").contains("Trend Chart - "));
    EXPECT_FALSE(pChart->frameGeometry().intersects(m_pFrame->frameGeometry()));
    const auto stacking = StackingOrder();
    EXPECT_NE(std::find(stacking.begin(), stacking.end(), id), stacking.end());

    const CTrendHistory& history = pView->GetTrendHistory();
    EXPECT_TRUE(WaitFor([&] { return history.TraceCount() == 1; }, 10s));
    // The legend is filled at a redraw after the first values.
    ASSERT_TRUE(WaitFor([&] { return pChart->m_treeLegend->topLevelItemCount() == 1; }, 10s));
    EXPECT_EQ(pChart->m_treeLegend->topLevelItem(0)->checkState(0), Qt::Checked);
    Pump(bPicture ? 31s : 1s);
    // The sine moved, within its bounds, with no gap.
    const auto runs =
        history.Runs(0, pChart->LevelShown(), history.OldestMillis(), history.NewestMillis() + 1);
    ASSERT_EQ(runs.size(), 1u);
    double dLow = 100, dHigh = -100;
    for (const CTrendPoint& point : runs[0]) {
        dLow = std::min(dLow, point.dMin);
        dHigh = std::max(dHigh, point.dMax);
    }
    EXPECT_GE(dLow, -100.0);
    EXPECT_LE(dHigh, 100.0);
    EXPECT_GT(dHigh - dLow, 1.0);
    if (bPicture) {
        // The cursor two thirds across, where it shows every trace's value.
        const QPoint at = pChart->m_pPlot->mapToGlobal(
            QPoint(pChart->m_pPlot->width() * 2 / 3, pChart->m_pPlot->height() / 2));
        Xdotool(QString("mousemove %1 %2").arg(at.x()).arg(at.y()));
        Pump(300ms);
        const QRect rc = pChart->frameGeometry();
        EXPECT_TRUE(QGuiApplication::primaryScreen()
                        ->grabWindow(0, rc.x(), rc.y(), rc.width(), rc.height())
                        .save(std::getenv("REGPROBE_PICTURE"), "PNG"));
    }
    pView->m_checkEnablePoll->click();
    EXPECT_TRUE(WaitFor([&] { return !pView->IsPolling(); }));
}
}  // namespace
