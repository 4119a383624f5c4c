// The pymodbus server script run by /usr/bin/python3 as a child process. It
// announces its port on its first output line and ends when its standard
// input closes; a child that lingers is killed.
#pragma once

#include <sys/types.h>

#include <string>

class CPythonServer {
public:
    enum class Start { Serving, NoPymodbus, Failed };

    CPythonServer() = default;
    ~CPythonServer() { Stop(); }
    CPythonServer(const CPythonServer&) = delete;
    CPythonServer& operator=(const CPythonServer&) = delete;

    // Waits at most nMillis for the announcement; strWhy says what went wrong.
    Start Run(const std::string& strScript, int nMillis, std::string& strWhy);
    int GetPort() const { return m_nPort; }
    void Stop();

private:
    pid_t m_pid = -1;
    int m_hStdin = -1;
    int m_hStdout = -1;
    int m_nPort = 0;
};
