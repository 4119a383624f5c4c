#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

CChildProcess::~CChildProcess() {
    Signal(SIGTERM);
    if (m_pid > 0 && Wait(3000) < 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_hOutput >= 0) {
        ::close(m_hOutput);
    }
}

bool CChildProcess::Start(const std::vector<std::string>& argv, bool bMergeStderr) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<char*> args;
    for (const std::string& s : argv) {
        args.push_back(const_cast<char*>(s.c_str()));
    }
    args.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        // Only calls safe after a fork in a threaded process, and none of
        // the test's blocked signals.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(::open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        if (bMergeStderr) {
            ::dup2(out[1], STDERR_FILENO);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    m_hOutput = out[0];
    return m_pid > 0;
}

bool CChildProcess::ReadLine(std::string& strLine, int nMillis) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
    for (int nReads = 0; nReads < 10000; ++nReads) {
        const size_t nNewline = m_strPending.find('\n');
        if (nNewline != std::string::npos) {
            strLine = m_strPending.substr(0, nNewline);
            m_strPending.erase(0, nNewline + 1);
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd pfd{m_hOutput, POLLIN, 0};
        char buffer[512];
        ssize_t n = 0;
        if (left.count() <= 0 || ::poll(&pfd, 1, int(left.count())) <= 0 ||
            (n = ::read(m_hOutput, buffer, sizeof buffer)) <= 0) {
            return false;
        }
        m_strPending.append(buffer, size_t(n));
    }
    return false;
}

void CChildProcess::Signal(int nSignal) {
    if (m_pid > 0) {
        ::kill(m_pid, nSignal);
    }
}

int CChildProcess::Wait(int nMillis) {
    for (int i = 0; m_pid > 0 && i * 10 <= nMillis; ++i) {
        int nStatus = 0;
        if (::waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}
