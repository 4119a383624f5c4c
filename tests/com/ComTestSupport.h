// Shared pieces of the remoting tests: private directories, the test server
// as a child process, safe-array variants and bounded waits.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/com/OleAuto.h"
#include "transport/ModbusSerialServer.h"

// A directory of its own under /tmp (mode 0700), removed with its contents.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    const std::string& Path() const { return m_strPath; }
    // Writes a file there with the mode; returns its path.
    std::string WriteFile(const std::string& strName, const std::string& strText, int nMode);

private:
    std::string m_strPath;
};

// The test server started by a test (not on demand): its standard input is
// a pipe whose closing ends it, its standard output a pipe to read.
class CTestServerProcess {
public:
    CTestServerProcess(const std::vector<std::string>& args, const std::string& strRuntimeDir);
    // Closes the server's input and waits for it (killing it after 5 s).
    ~CTestServerProcess();
    // One line of the server's output within nMillis; empty on time-out.
    std::string ReadLine(int nMillis);

private:
    pid_t m_pid = -1;
    int m_hInput = -1;
    int m_hOutput = -1;
};

// The test server's path beside the test executable.
std::string TestServerPath();

// A VT_ARRAY variant of VT_UI1, VT_I2 or VT_I4 elements.
VARIANT MakeArray(VARTYPE vtElement, LONG lLbound, const std::vector<LONG>& values);
std::vector<LONG> ArrayValues(const VARIANT& var);
// Runs a fake command (FAKE_COMMAND, code, args) and returns its 4-byte
// answer; -1 when the call fails.
LONG RunFakeCommand(IModbusSerialPort* pPort, BYTE byCode);
// Polls the condition every 10 ms for at most nMillis.
bool WaitUntil(const std::function<bool()>& condition, int nMillis);
