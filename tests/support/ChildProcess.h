// A program the tests run, its standard input /dev/null and its standard
// output a pipe to the test. Every wait is bounded; a child still running at
// the end is stopped with SIGTERM and, if it lingers, killed.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // argv[0] is the program's path; with bMergeStderr its standard error
    // goes to the same pipe.
    bool Start(const std::vector<std::string>& argv, bool bMergeStderr = false);
    // One line of output without its newline; false at a time-out or end.
    bool ReadLine(std::string& strLine, int nMillis);
    void Signal(int nSignal);
    // The exit status once the child ended within nMillis, else -1 (a
    // child ended by a signal gives 128 + the signal).
    int Wait(int nMillis);

private:
    pid_t m_pid = -1;
    int m_hOutput = -1;
    std::string m_strPending;
};
