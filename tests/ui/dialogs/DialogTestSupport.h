// What the connection dialogs' tests share: the simulator on TCP, the serial
// server with the simulator on a pty behind COM1, message boxes answered from
// a script, dialogs driven by control id.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/Dialog.h"
#include "platform/ui/MessageBox.h"
#include "tests/server/ChildProcess.h"

// Records every message box; answers from m_answers while it lasts, then
// IDOK (or IDYES for a question).
class CScriptedBoxes {
public:
    CScriptedBoxes();
    ~CScriptedBoxes();
    std::vector<CString> m_texts;
    std::vector<UINT> m_types;
    std::deque<int> m_answers;

private:
    AFX_MESSAGEBOX_HOOK m_previous;
};

// regprobe-sim on 127.0.0.1, a free port, holding registers 0-2 = 11, 22, 33.
class CTcpSim {
public:
    CTcpSim();
    bool m_bStarted = false;
    WORD m_nPort = 0;
    CString Port() const { return std::to_string(m_nPort); }

private:
    CChildProcess m_process;
};

// A TCP port on 127.0.0.1 that refuses connections.
WORD ClosedPort();

// regprobe-sim on a pty, holding registers 0-2 = 11, 22, 33 in RTU, served as
// COM1 by modbus-serial-server on a private runtime directory; the server
// also takes remote clients at m_strRemote, which this process may be.
class CSerialRig {
public:
    CSerialRig();
    ~CSerialRig();
    CSerialRig(const CSerialRig&) = delete;
    CSerialRig& operator=(const CSerialRig&) = delete;

    bool m_bStarted = false;
    CString m_strRemote;  // "127.0.0.1:port"
    std::string m_strError;

private:
    char m_szDir[40] = "/tmp/regprobe-dlg-XXXXXX";
    CChildProcess m_sim;
    CChildProcess m_server;
};

// Runs action on the modal dialog titled strTitle once it is up (checked
// every 20 ms, for at most 10 s); a dialog still open 10 s later ends -2.
void WhenDialog(const QString& strTitle, std::function<void(CDialog*)> action);

// Control of a dialog by id, typed.
template <typename T>
T* Ctl(const QWidget* pDialog, int nID) {
    T* p = qobject_cast<T*>(GetDlgItem(pDialog, nID));
    EXPECT_NE(p, nullptr) << "control " << nID;
    return p;
}
void SetText(const QWidget* pDialog, int nID, const char* pszText);
void Click(const QWidget* pDialog, int nID);
// Selects the combo line with this text; false when there is none.
bool Choose(const QWidget* pDialog, int nID, const char* pszText);
// The list box's lines, top to bottom.
std::vector<CString> Lines(const QWidget* pDialog, int nID);
// The collection's names, sorted.
std::vector<CString> ConnectionNames();
