// Helpers for the user-interface tests: recorders standing in for message
// boxes, the shell, menus and file dialogs; bounded waits; an application
// whose start-up steps can be made to fail, and a fixture that starts it.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/FileDialog.h"
#include "platform/ui/Menu.h"
#include "platform/ui/Message.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/ShellApi.h"
#include "shell/RegprobeApp.h"

// Processes events until pred() holds or the time is up; returns pred().
bool WaitFor(const std::function<bool()>& pred,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Processes events for the given time.
void Pump(std::chrono::milliseconds duration);
// Runs action on the modal dialog once one is up (checked every 20 ms, for
// at most 5 s). A dialog still open 5 s after the action ends with -2.
void WhenModal(std::function<void(QWidget*)> action);

// Records every message box; answers from m_answers while any are left,
// then IDOK.
class CMessageBoxRecorder {
public:
    CMessageBoxRecorder();
    ~CMessageBoxRecorder();

    struct Box {
        CString strText;
        UINT nType;
    };
    std::vector<Box> m_boxes;
    std::function<void(const CString&)> m_pfnOnShow;
    std::deque<int> m_answers;

    std::vector<CString> Texts() const;

private:
    AFX_MESSAGEBOX_HOOK m_previous;
};

// Stands in for the shell: records each call with a copy of the record.
class CNotifyIconRecorder {
public:
    CNotifyIconRecorder();
    ~CNotifyIconRecorder();

    struct Call {
        DWORD dwMessage;
        NOTIFYICONDATA data;
    };
    std::vector<Call> m_calls;
    BOOL m_bResult = TRUE;

private:
    AFX_NOTIFYICON_HOOK m_previous;
};

// Picks a menu item instead of showing the menu; records the menus shown.
class CTrackMenuRecorder {
public:
    explicit CTrackMenuRecorder(UINT nChoose = 0);
    ~CTrackMenuRecorder();

    struct Shown {
        std::vector<CString> items;  // "" for separators
        std::vector<bool> bold;
    };
    std::vector<Shown> m_shown;
    UINT m_nChoose;

private:
    AFX_TRACKMENU_HOOK m_previous;
};

// Answers file dialogs with a path (IDOK) or, with an empty path, IDCANCEL.
class CFileDialogAnswer {
public:
    explicit CFileDialogAnswer(CString strPath);
    ~CFileDialogAnswer();

    int m_nShown = 0;
    CString m_strLastFilter;

private:
    CString m_strPath;
    AFX_FILEDIALOG_HOOK m_previous;
};

// A window that records the messages it gets.
class CMessageSink : public QWidget {
public:
    struct Received {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Received> m_received;

protected:
    bool event(QEvent* pEvent) override;
};

// The application with each start-up step able to fail; records the steps.
class CTestApp : public CRegprobeApp {
public:
    explicit CTestApp(std::vector<std::string> args = {});

    BOOL IsDcomAvailable() override;
    BOOL InitializeCom() override;

    std::vector<std::string> m_steps;
    bool m_bFailDcom = false;
    bool m_bFailSockets = false;
    bool m_bFailCom = false;

protected:
    BOOL InitializeSockets() override;

private:
    explicit CTestApp(int& argc);
};

// The main frame of the running test application.
class CMainFrame;
CMainFrame* MainFrame();
// The frame's menu item with the command id, as a user would find it; null
// when no menu holds it.
class QAction;
QAction* MenuItem(CMainFrame* pFrame, UINT nID);

// The application started as when embedded (no splash), its main frame
// active; the connections it made are removed afterwards.
class CFrameTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    CTestApp m_app{{"-Embedding"}};
    CMainFrame* m_pFrame = nullptr;
    CMessageBoxRecorder m_boxes;
};
