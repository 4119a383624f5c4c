// What the connection dialogs' tests share: the simulator on TCP, the serial
// server with the simulator on a pty as COM1, controls reached by id.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/rpc/RpcSettings.h"
#include "platform/ui/DialogBuilder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/ui/UiTestSupport.h"

// regprobe-sim on 127.0.0.1, a free port; holding registers 0-2 = 11, 22, 33.
class CTcpSim {
public:
    // Other options instead of the three holding registers.
    explicit CTcpSim(std::vector<std::string> options = {"--holding", "0=11,22,33"});
    CString Port() const { return std::to_string(m_nPort); }
    WORD m_nPort = 0;

private:
    CChildProcess m_process;
};

// A port on 127.0.0.1 where nothing listens.
WORD ClosedPort();

// The simulator on a pty (as CTcpSim, RTU) served as COM1 by
// modbus-serial-server on a private runtime directory; the server also takes
// remote clients holding the key, as this process does, at m_strRemote.
class CSerialRig {
public:
    CSerialRig();
    ~CSerialRig();
    CString m_strRemote;  // "127.0.0.1:port", empty when it did not start

private:
    CTempDir m_dir;
    CScopedEnv m_runtime{RPC_RUNTIME_DIR_VARIABLE, m_dir.Path().c_str()};
    CChildProcess m_sim;
    CChildProcess m_server;
};

template <typename T>
T* Ctl(const QWidget* pDialog, int nID) {
    T* p = qobject_cast<T*>(GetDlgItem(pDialog, nID));
    EXPECT_NE(p, nullptr) << "control " << nID;
    return p;
}
void SetText(const QWidget* pDialog, int nID, const CString& strText);
QString Text(const QWidget* pDialog, int nID);  // an edit's text, a combo's selected line
void Click(const QWidget* pDialog, int nID);
void Choose(const QWidget* pDialog, int nID, const char* pszLine);
std::vector<CString> Lines(const QWidget* pDialog, int nID);
// The collection's names, sorted.
std::vector<CString> ConnectionNames();

// A dialog just sent "&OK" (which held the GUI thread for okTook) connects
// to strTarget without holding that thread: the "connecting" line says so,
// OK is greyed, and a 10 ms timer of the GUI thread keeps its pace.
void ExpectAnswersWhileConnecting(QWidget* pDialog, int nOkID,
                                  const std::function<bool()>& connecting, const CString& strTarget,
                                  std::chrono::nanoseconds okTook);

// Then Cancel closes it at once; the abandoned attempt, ended later by
// endAttempt, neither adds the record, reopens the dialog nor says anything.
template <typename TDialog>
void ExpectCancelAbandonsTheAttempt(TDialog& dlg, const CMessageBoxRecorder& boxes,
                                    const std::function<void()>& endAttempt) {
    const auto start = std::chrono::steady_clock::now();
    Click(&dlg, IDCANCEL);
    EXPECT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, std::chrono::milliseconds(100)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_FALSE(dlg.IsConnecting());
    endAttempt();
    Pump(std::chrono::milliseconds(300));
    EXPECT_EQ(dlg.result(), IDCANCEL);
    EXPECT_EQ(dlg.GetConnection(), nullptr);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(ConnectionNames(), std::vector<CString>{});
}
