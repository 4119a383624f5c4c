#include "RpcServerLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "RpcSettings.h"

extern char** environ;

namespace {
// The descriptor number the server finds the ready pipe at.
constexpr int kReadyFd = 3;

void CloseFrom(int hFirst, int hKeep) {
    // Runs between fork and exec: only plain system calls.
    if (hKeep > hFirst) {
        ::close_range(static_cast<unsigned>(hFirst), static_cast<unsigned>(hKeep - 1), 0);
    }
    ::close_range(static_cast<unsigned>(hKeep + 1), ~0U, 0);
}

// The grandchild: everything here must be async-signal-safe.
[[noreturn]] void ExecServer(const char* pszExe, char* const* argv, char* const* envp, int hError,
                             int hReady) {
    int hNull = ::open("/dev/null", O_RDWR);
    int hErr = ::fcntl(hError, F_DUPFD_CLOEXEC, 10);
    int hRdy = ::fcntl(hReady, F_DUPFD, 10);
    if (hNull < 0 || hErr < 0 || hRdy < 0 || ::dup2(hNull, 0) < 0 || ::dup2(hNull, 1) < 0 ||
        ::dup2(hRdy, kReadyFd) < 0) {
        ::_exit(127);
    }
    CloseFrom(kReadyFd + 1, hErr);
    ::execve(pszExe, argv, envp);
    int err = errno;
    ssize_t n = ::write(hErr, &err, sizeof err);
    (void)n;
    ::_exit(127);
}
}  // namespace

CRpcServerLauncher::~CRpcServerLauncher() {
    if (m_hReady >= 0) {
        ::close(m_hReady);
    }
}

HRESULT CRpcServerLauncher::Start(const std::string& strExe, const std::string& strRuntimeDir) {
    if (::access(strExe.c_str(), X_OK) != 0) {
        return CO_E_SERVER_EXEC_FAILURE;
    }
    // Everything the children need is made before the fork.
    std::string strArg0 = strExe;
    std::string strArg1 = "--activated";
    std::vector<char*> argv = {strArg0.data(), strArg1.data(), nullptr};
    std::string strDirVar = std::string(RPC_RUNTIME_DIR_VARIABLE) + "=" + strRuntimeDir;
    std::string strReadyVar = std::string(RPC_READY_FD_VARIABLE) + "=" + std::to_string(kReadyFd);
    std::vector<char*> envp;
    std::string strDirPrefix = std::string(RPC_RUNTIME_DIR_VARIABLE) + "=";
    std::string strReadyPrefix = std::string(RPC_READY_FD_VARIABLE) + "=";
    for (char** pp = environ; *pp != nullptr; ++pp) {
        std::string_view entry(*pp);
        if (!entry.starts_with(strDirPrefix) && !entry.starts_with(strReadyPrefix)) {
            envp.push_back(*pp);
        }
    }
    envp.push_back(strDirVar.data());
    envp.push_back(strReadyVar.data());
    envp.push_back(nullptr);

    int errorPipe[2], readyPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        return CO_E_SERVER_EXEC_FAILURE;
    }
    if (::pipe2(readyPipe, O_CLOEXEC) != 0) {
        ::close(errorPipe[0]);
        ::close(errorPipe[1]);
        return CO_E_SERVER_EXEC_FAILURE;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        // The child starts a new session and leaves at once, so the server
        // is nobody's child here and never becomes a zombie of the client.
        ::setsid();
        pid_t pidServer = ::fork();
        if (pidServer == 0) {
            ExecServer(strExe.c_str(), argv.data(), envp.data(), errorPipe[1], readyPipe[1]);
        }
        ::_exit(pidServer > 0 ? 0 : 1);
    }
    ::close(errorPipe[1]);
    ::close(readyPipe[1]);
    int status = 0;
    bool bForked = pid > 0;
    if (bForked) {
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        bForked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    // The error pipe closes on a successful exec; it carries errno otherwise.
    int err = 0;
    bool bExecuted = false;
    if (bForked) {
        pollfd p{errorPipe[0], POLLIN, 0};
        if (::poll(&p, 1, 5000) == 1) {
            ssize_t n;
            do {
                n = ::read(errorPipe[0], &err, sizeof err);
            } while (n < 0 && errno == EINTR);
            bExecuted = n == 0;
        }
    }
    ::close(errorPipe[0]);
    if (!bExecuted) {
        ::close(readyPipe[0]);
        return CO_E_SERVER_EXEC_FAILURE;
    }
    m_hReady = readyPipe[0];
    m_state = STARTING;
    return S_OK;
}

CRpcServerLauncher::EState CRpcServerLauncher::Wait(int nMillis) {
    if (m_state != STARTING || m_hReady < 0) {
        if (nMillis > 0) {
            ::poll(nullptr, 0, nMillis);
        }
        return m_state;
    }
    pollfd p{m_hReady, POLLIN, 0};
    if (::poll(&p, 1, nMillis) == 1) {
        char c = 0;
        ssize_t n = ::read(m_hReady, &c, 1);
        m_state = n == 1 ? READY : GONE;
        ::close(m_hReady);
        m_hReady = -1;
    }
    return m_state;
}
