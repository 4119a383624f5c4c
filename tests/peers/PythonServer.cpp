#include "PythonServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace {
constexpr const char* kPython = "/usr/bin/python3";

bool WaitExited(pid_t pid, int nMillis) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMillis);
    do {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}
}  // namespace

CPythonServer::Start CPythonServer::Run(const std::string& strScript, int nMillis,
                                        std::string& strWhy) {
    if (::access(kPython, X_OK) != 0) {
        strWhy = std::string(kPython) + " is missing";
        return Start::NoPymodbus;
    }
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        strWhy = "pipe";
        return Start::Failed;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        strWhy = "pipe";
        return Start::Failed;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(kPython), const_cast<char*>(strScript.c_str()), nullptr};
    int rc = ::posix_spawn(&m_pid, kPython, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_hStdin = in[1];
    m_hStdout = out[0];
    if (rc != 0) {
        m_pid = -1;
        strWhy = "cannot start " + std::string(kPython);
        return Start::Failed;
    }

    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMillis);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{m_hStdout, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            strWhy = "no port announced in time";
            return Start::Failed;
        }
        char buf[256];
        ssize_t n = ::read(m_hStdout, buf, sizeof buf);
        if (n <= 0) {
            strWhy = "the server ended without announcing a port: " + line;
            return Start::Failed;
        }
        line.append(buf, static_cast<size_t>(n));
    }
    line.resize(line.find('\n'));
    if (line.rfind("skip ", 0) == 0) {
        strWhy = line.substr(5);
        return Start::NoPymodbus;
    }
    if (line.rfind("port ", 0) != 0 || (m_nPort = std::atoi(line.c_str() + 5)) <= 0) {
        strWhy = "unexpected announcement: " + line;
        return Start::Failed;
    }
    return Start::Serving;
}

void CPythonServer::Stop() {
    if (m_hStdin >= 0) {
        ::close(m_hStdin);  // the script's signal to end
        m_hStdin = -1;
    }
    if (m_pid > 0) {
        if (!WaitExited(m_pid, 3000)) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
    if (m_hStdout >= 0) {
        ::close(m_hStdout);
        m_hStdout = -1;
    }
}
