#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}
}  // namespace

CChildProcess::~CChildProcess() {
    CloseInput();
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        if (Wait(3000) < 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    if (m_hOutput >= 0) {
        ::close(m_hOutput);
    }
}

bool CChildProcess::Start(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    std::vector<std::string> env(environment);
    for (char** pp = environ; *pp != nullptr; ++pp) {
        const std::string strEntry = *pp;
        const std::string strName = strEntry.substr(0, strEntry.find('=') + 1);
        bool bReplaced = false;
        for (const std::string& strOwn : environment) {
            bReplaced = bReplaced || strOwn.rfind(strName, 0) == 0;
        }
        if (!bReplaced) {
            env.push_back(strEntry);
        }
    }
    std::vector<char*> args;
    for (const std::string& s : argv) {
        args.push_back(const_cast<char*>(s.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& s : env) {
        envp.push_back(const_cast<char*>(s.c_str()));
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // The child must not inherit the test's blocked signals.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    const int rc = ::posix_spawn(&m_pid, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_hInput = in[1];
    m_hOutput = out[0];
    if (rc != 0) {
        m_pid = -1;
        return false;
    }
    return true;
}

bool CChildProcess::ReadLine(std::string& strLine, int nMillis) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
    for (;;) {
        const size_t nNewline = m_strPending.find('\n');
        if (nNewline != std::string::npos) {
            strLine = m_strPending.substr(0, nNewline);
            m_strPending.erase(0, nNewline + 1);
            return true;
        }
        pollfd pfd{m_hOutput, POLLIN, 0};
        const int nLeft = MillisLeft(deadline);
        if (nLeft <= 0 || ::poll(&pfd, 1, nLeft) <= 0) {
            return false;
        }
        char buffer[256];
        const ssize_t n = ::read(m_hOutput, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        m_strPending.append(buffer, size_t(n));
    }
}

std::string CChildProcess::ReadAll(int nMillis) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
    std::string strAll;
    strAll.swap(m_strPending);
    for (;;) {
        pollfd pfd{m_hOutput, POLLIN, 0};
        const int nLeft = MillisLeft(deadline);
        if (nLeft <= 0 || ::poll(&pfd, 1, nLeft) <= 0) {
            return strAll;
        }
        char buffer[512];
        const ssize_t n = ::read(m_hOutput, buffer, sizeof buffer);
        if (n <= 0) {
            return strAll;
        }
        strAll.append(buffer, size_t(n));
    }
}

void CChildProcess::CloseInput() {
    if (m_hInput >= 0) {
        ::close(m_hInput);
        m_hInput = -1;
    }
}

void CChildProcess::Signal(int nSignal) {
    if (m_pid > 0) {
        ::kill(m_pid, nSignal);
    }
}

int CChildProcess::Wait(int nMillis) {
    if (m_pid <= 0) {
        return -1;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
    do {
        int nStatus = 0;
        if (::waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < deadline);
    return -1;
}
