// The start picture: a borderless window centred on the screen that shows
// bitmap 102 and goes after three seconds, or at the first key or mouse
// button press anywhere in the application, which it swallows.
#pragma once

#include <QPixmap>
#include <QWidget>

#include "platform/ui/WinUser.h"

class CSplashWnd : public QWidget {
    Q_OBJECT

public:
    ~CSplashWnd() override;

    static void EnableSplashScreen(BOOL bEnable = TRUE);
    // Creates the one splash window, when enabled and not yet there.
    static void ShowSplashScreen(QWidget* pParentWnd = nullptr);
    // TRUE when the message dismissed the splash window and must go no
    // further.
    static BOOL PreTranslateAppMessage(MSG* pMsg);

    BOOL Create(QWidget* pParentWnd = nullptr);
    // Destroys the window (the object follows) and repaints the main
    // window at once.
    void HideSplashScreen();

    static BOOL c_bShowSplashWnd;
    static CSplashWnd* c_pSplashWnd;

protected:
    CSplashWnd();

    int OnCreate();
    void OnPaint();
    void OnTimer(int nIDEvent);

    void paintEvent(QPaintEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;
    bool eventFilter(QObject* pObject, QEvent* pEvent) override;

    QPixmap m_bitmap;

private:
    // Raised over its owner once the owner is on the screen.
    void StayAboveOwner();

    int m_nTimer = 0;
};
