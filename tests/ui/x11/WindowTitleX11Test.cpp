// The frame's title under a real window manager: it names the active test
// window whether that is maximised or not, through maximise, restore, Tile,
// Cascade, activation and close.
#include <gtest/gtest.h>

#include <QMdiArea>
#include <QMdiSubWindow>

#include "connections/Connections.h"
#include "platform/ui/MDIChildWnd.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "tests/ui/x11/X11Support.h"

namespace {
using namespace std::chrono_literals;

enum Step { New, Maximise, Restore, Tile, Cascade, ActivateFirst, Close };

struct TitleCase {
    const char* pszName;
    std::vector<Step> steps;
    // Null: the MDI area chooses which window comes next; the title names
    // that one.
    const char* pszTitle;
};
void PrintTo(const TitleCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

class WindowTitleX11Test : public CX11FrameTest, public ::testing::WithParamInterface<TitleCase> {
protected:
    void SetUp() override {
        CX11FrameTest::SetUp();
        // A window opens on any connection; this one is never connected.
        theConnections.Add("title", CONNECTION_OPEN_MODBUS);
    }
    void TearDown() override {
        m_app.CloseAllDocuments(FALSE);
        CX11FrameTest::TearDown();
        theConnections.RemoveAll();
    }

    void Do(Step step) {
        QMdiArea* pArea = m_pFrame->GetMDIClient();
        CMDIChildWnd* pActive = m_pFrame->MDIGetActive();
        switch (step) {
            case New:
                m_pFrame->SendCommand(ID_FILE_NEW);
                break;
            case Maximise:
                pActive->showMaximized();
                break;
            case Restore:
                pActive->showNormal();
                break;
            case Tile:
                m_pFrame->SendCommand(ID_WINDOW_TILE_HORZ);
                break;
            case Cascade:
                m_pFrame->SendCommand(ID_WINDOW_CASCADE);
                break;
            case ActivateFirst:
                pArea->setActiveSubWindow(pArea->subWindowList(QMdiArea::CreationOrder).front());
                break;
            case Close:
                m_pFrame->SendCommand(ID_FILE_CLOSE);
                break;
        }
        Pump(100ms);
    }
};

TEST_P(WindowTitleX11Test, NamesTheActiveWindow) {
    for (Step step : GetParam().steps) {
        Do(step);
    }
    QString strWanted = QString::fromLatin1(GetParam().pszTitle);
    if (GetParam().pszTitle == nullptr) {
        CMDIChildWnd* pActive = m_pFrame->MDIGetActive();
        ASSERT_NE(pActive, nullptr);
        strWanted = pActive->isMaximized() ? "Regprobe - [" + pActive->windowTitle() + "]"
                                           : "Regprobe - " + pActive->windowTitle();
    }
    // What the window manager shows, not only what Qt holds.
    const WId frame = m_pFrame->winId();
    QString strShown;
    EXPECT_TRUE(WaitFor(
        [&] {
            strShown = WindowProperty(frame, QStringLiteral("_NET_WM_NAME"));
            return m_pFrame->windowTitle() == strWanted && strShown == '"' + strWanted + '"';
        },
        3s))
        << "title " << m_pFrame->windowTitle().toStdString() << ", on X " << strShown.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, WindowTitleX11Test,
    ::testing::Values(
        TitleCase{"OneRestored", {New}, "Regprobe - Regpro1"},
        TitleCase{"MaximisedThenTwoMore", {New, Maximise, New, New}, "Regprobe - [Regpro3]"},
        TitleCase{"Tiled", {New, Maximise, New, New, Tile}, "Regprobe - Regpro3"},
        TitleCase{"Cascaded", {New, Maximise, New, New, Cascade}, "Regprobe - Regpro3"},
        TitleCase{"Restored", {New, New, Maximise, Restore}, "Regprobe - Regpro2"},
        TitleCase{
            "FirstActivated", {New, Maximise, New, New, ActivateFirst}, "Regprobe - [Regpro1]"},
        TitleCase{"ActiveClosed", {New, Maximise, New, New, Close}, nullptr},
        TitleCase{"AllClosed", {New, Maximise, New, Close, Close}, "Regprobe"}),
    [](const ::testing::TestParamInfo<TitleCase>& info) { return info.param.pszName; });
}  // namespace
