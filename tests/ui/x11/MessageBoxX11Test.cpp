// Message boxes under a real window manager: each is wide enough for its
// caption beside the title bar's buttons, as the window manager frames it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include "platform/ui/MessageBox.h"
#include "tests/ui/x11/X11Support.h"

namespace {
using namespace std::chrono_literals;

class MessageBoxX11Test : public CX11FrameTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(MessageBoxX11Test, IsWideEnoughForItsCaption) {
    int cxFrame = 0;
    int cyTitle = 0;
    QString strCaption;
    WhenModal([&](QWidget* pBox) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pBox, 5000));
        strCaption = pBox->windowTitle();
        const WId id = pBox->winId();
        // Left, right, top (the title bar), bottom: set once the window
        // manager frames the box.
        std::vector<unsigned long> extents;
        WaitFor([&] {
            extents = PropertyNumbers(WindowProperty(id, QStringLiteral("_NET_FRAME_EXTENTS")));
            return extents.size() == 4 && extents[2] > 0;
        });
        ASSERT_EQ(extents.size(), 4u);
        cyTitle = int(extents[2]);
        Pump(200ms);
        // The frame's own width, decorations included, as X has it.
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("Width: (\\d+)"))
                .match(RunCommand(
                    QStringLiteral("xwininfo"),
                    {QStringLiteral("-frame"), QStringLiteral("-id"), QString::number(id)}));
        cxFrame = m.hasMatch() ? m.captured(1).toInt() : 0;
        // With REGPROBE_PICTURES set, the framed box is saved there as a PNG.
        if (const char* pszDir = std::getenv("REGPROBE_PICTURES")) {
            const QRect rc = pBox->frameGeometry().adjusted(-20, -20, 20, 20);
            QGuiApplication::primaryScreen()
                ->grabWindow(0, rc.x(), rc.y(), rc.width(), rc.height())
                .save(QDir(pszDir).filePath(
                    QStringLiteral("box-%1.png").arg(QString(GetParam()).replace(' ', '-'))));
        }
        pBox->close();
    });
    AfxMessageBox(GetParam(), MB_OK);

    // The window manager's title face (bold sans, 8 points) and its buttons:
    // icon, minimise, maximise and close, each about as wide as the title
    // bar is high, with the gaps and borders around them. A box 150 px wide
    // already shows "R...be".
    QFont font(QStringLiteral("Sans"), 8, QFont::Bold);
    const int cxCaption = QFontMetrics(font).horizontalAdvance(strCaption);
    ASSERT_GT(cyTitle, 0);
    EXPECT_GE(cxFrame, cxCaption + 6 * cyTitle)
        << "caption " << strCaption.toStdString() << " " << cxCaption << " px, title bar "
        << cyTitle << " px high";
}

INSTANTIATE_TEST_SUITE_P(Texts, MessageBoxX11Test,
                         ::testing::Values("Invalid port", "Invalid timeout", "Connection Error"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return QString(info.param).remove(' ').toStdString();
                         });
}  // namespace
