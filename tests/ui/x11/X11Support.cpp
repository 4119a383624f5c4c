#include "tests/ui/x11/X11Support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTest>

#include "res/Resource.h"
#include "shell/MainFrm.h"

QString RunCommand(const QString& strProgram, const QStringList& args) {
    QProcess process;
    process.start(strProgram, args);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        ADD_FAILURE() << "timed out: " << strProgram.toStdString();
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString Xdotool(const QString& strArgs) {
    return RunCommand(QStringLiteral("xdotool"), strArgs.split(QLatin1Char(' ')));
}

void DoubleClickAt(QPoint point) {
    Xdotool(QStringLiteral("mousemove %1 %2 click --repeat 2 --delay 80 1")
                .arg(point.x())
                .arg(point.y()));
}

QPoint ScreenCentre(WId window) {
    QString info =
        RunCommand(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    int x = -1, y = -1, w = 0, h = 0;
    for (const QString& line : info.split(QLatin1Char('\n'))) {
        QString value = line.section(QLatin1Char(':'), 1).trimmed();
        if (line.contains(QLatin1String("Absolute upper-left X"))) {
            x = value.toInt();
        } else if (line.contains(QLatin1String("Absolute upper-left Y"))) {
            y = value.toInt();
        } else if (line.trimmed().startsWith(QLatin1String("Width:"))) {
            w = value.toInt();
        } else if (line.trimmed().startsWith(QLatin1String("Height:"))) {
            h = value.toInt();
        }
    }
    return QPoint(x + w / 2, y + h / 2);
}

QWidget* TrayIconWidget() {
    for (QWidget* pWidget : QApplication::topLevelWidgets()) {
        if (qstrcmp(pWidget->metaObject()->className(), "QSystemTrayIconSys") == 0 &&
            pWidget->isVisible()) {
            return pWidget;
        }
    }
    return nullptr;
}

std::vector<WId> StackingOrder() {
    std::vector<WId> windows;
    QString strValue = WindowProperty(0, QStringLiteral("_NET_CLIENT_LIST_STACKING"));
    for (unsigned long id : PropertyNumbers(strValue.section(QLatin1Char('#'), 1))) {
        windows.push_back(id);
    }
    return windows;
}

QString WindowProperty(WId window, const QString& strName) {
    QStringList args = window == 0 ? QStringList{QStringLiteral("-root")}
                                   : QStringList{QStringLiteral("-id"), QString::number(window)};
    args << strName;
    QString strOut = RunCommand(QStringLiteral("xprop"), args).trimmed();
    if (!strOut.startsWith(strName) || strOut.contains(QLatin1String("not found")) ||
        strOut.contains(QLatin1String("no such atom"))) {
        return QString();
    }
    // "NAME(TYPE) = value", or "NAME(TYPE):" and lines of text.
    int nEquals = strOut.left(strOut.indexOf(QLatin1Char('\n'))).indexOf(QLatin1Char('='));
    int nStart = nEquals >= 0 ? nEquals : static_cast<int>(strOut.indexOf(QLatin1Char(':')));
    return strOut.mid(nStart + 1).trimmed();
}

std::vector<unsigned long> PropertyNumbers(const QString& strValue) {
    std::vector<unsigned long> numbers;
    static const QRegularExpression number(QStringLiteral("0x[0-9a-fA-F]+|\\d+"));
    for (const QRegularExpressionMatch& m : number.globalMatch(strValue)) {
        numbers.push_back(m.captured().toULong(nullptr, 0));
    }
    return numbers;
}

void CX11FrameTest::SetUp() {
    ASSERT_TRUE(
        WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, std::chrono::seconds(10)))
        << "no notification area on this display";
    ASSERT_TRUE(m_app.InitInstance());
    m_pFrame = MainFrame();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pFrame, 10000));
}

void CX11FrameTest::TearDown() {
    if (AfxGetMainWnd() != nullptr) {
        MainFrame()->SendCommand(ID_TRAY_TERMINATE);
    }
}
