// What the X11 tests ask of the X server and the window manager, through
// the same tools a person would use: xprop, xwininfo, xdotool.
#pragma once

#include <gtest/gtest.h>

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "tests/support/ui/UiTestSupport.h"

class CMainFrame;

// Runs a command to its end, at most 10 s; its standard output.
QString RunCommand(const QString& strProgram, const QStringList& args);
// xdotool with the words of strArgs, as RunCommand.
QString Xdotool(const QString& strArgs);
// Two clicks of the first button at a point of the screen, as a user's
// double-click.
void DoubleClickAt(QPoint point);
// The centre of a window in root coordinates, as the X server has it.
QPoint ScreenCentre(WId window);
// The notification-area icon's own window, once shown.
QWidget* TrayIconWidget();
// The window manager's client windows, bottom first.
std::vector<WId> StackingOrder();
// A property of a window as xprop prints it after "=" (or after ":" for
// the size hints); empty when the window has none.
QString WindowProperty(WId window, const QString& strName);
// The numbers in a property's value, decimal or hexadecimal.
std::vector<unsigned long> PropertyNumbers(const QString& strValue);

// The application started embedded (no splash) once the notification area
// is there, its frame exposed; ended from the tray's Terminate.
class CX11FrameTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    CTestApp m_app{{"-Embedding"}};
    CMainFrame* m_pFrame = nullptr;
};
