// What the connection dialogs' tests share: the simulator on TCP, the serial
// server with the simulator on a pty as COM1, controls reached by id.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <string>
#include <vector>

#include "platform/com/rpc/RpcSettings.h"
#include "platform/ui/DialogBuilder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

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
