#include "RpcServerLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "RpcSettings.h"
#include "platform/UniqueFd.h"

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
                             int hReady, bool bKeepStderr) {
    int hNull = ::open("/dev/null", O_RDWR);
    int hErr = ::fcntl(hError, F_DUPFD_CLOEXEC, 10);
    int hRdy = ::fcntl(hReady, F_DUPFD, 10);
    if (hNull < 0 || hErr < 0 || hRdy < 0 || ::dup2(hNull, 0) < 0 || ::dup2(hNull, 1) < 0 ||
        (!bKeepStderr && ::dup2(hNull, 2) < 0) || ::dup2(hRdy, kReadyFd) < 0) {
        ::_exit(127);
    }
    CloseFrom(kReadyFd + 1, hErr);
    ::execve(pszExe, argv, envp);
    int err = errno;
    ssize_t n = ::write(hErr, &err, sizeof err);
    (void)n;
    ::_exit(127);
}

// The server's command line and environment: ours, with the runtime
// directory and the ready descriptor set. Made before the fork, since the
// children may not allocate.
class CServerCommand {
public:
    CServerCommand(const std::string& strExe, const std::string& strRuntimeDir)
        : m_strExe(strExe),
          m_strDirVar(std::string(RPC_RUNTIME_DIR_VARIABLE) + "=" + strRuntimeDir),
          m_strReadyVar(std::string(RPC_READY_FD_VARIABLE) + "=" + std::to_string(kReadyFd)) {
        m_argv = {m_strExe.data(), m_strActivated.data(), nullptr};
        const std::string strDirPrefix = std::string(RPC_RUNTIME_DIR_VARIABLE) + "=";
        const std::string strReadyPrefix = std::string(RPC_READY_FD_VARIABLE) + "=";
        for (char** pp = environ; *pp != nullptr; ++pp) {
            std::string_view entry(*pp);
            if (!entry.starts_with(strDirPrefix) && !entry.starts_with(strReadyPrefix)) {
                m_envp.push_back(*pp);
            }
        }
        m_envp.push_back(m_strDirVar.data());
        m_envp.push_back(m_strReadyVar.data());
        m_envp.push_back(nullptr);
    }

    const char* Exe() const { return m_strExe.c_str(); }
    // The server outlives its first client. It logs to the client's
    // standard error when that is a terminal or a file, but never holds the
    // client's pipe or socket open: whoever reads it would wait for the
    // server's end, not the client's.
    bool KeepStderr() const {
        struct stat st {};
        return ::fstat(2, &st) == 0 && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode);
    }
    char* const* Argv() { return m_argv.data(); }
    char* const* Envp() { return m_envp.data(); }

private:
    std::string m_strExe;
    std::string m_strActivated = "--activated";
    std::string m_strDirVar;
    std::string m_strReadyVar;
    std::vector<char*> m_argv;
    std::vector<char*> m_envp;
};

bool MakePipe(CUniqueFd* pRead, CUniqueFd* pWrite) {
    int hPipe[2];
    if (::pipe2(hPipe, O_CLOEXEC) != 0) {
        return false;
    }
    pRead->Reset(hPipe[0]);
    pWrite->Reset(hPipe[1]);
    return true;
}

// Forks a child that starts a new session, forks the server and leaves at
// once, so the server is nobody's child here and never becomes a zombie of
// the client. The server's pid, passed up by the child, or -1.
pid_t SpawnDetached(CServerCommand& command, int hError, int hReady) {
    CUniqueFd pidRead, pidWrite;
    if (!MakePipe(&pidRead, &pidWrite)) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const pid_t pidServer = ::fork();
        if (pidServer == 0) {
            ExecServer(command.Exe(), command.Argv(), command.Envp(), hError, hReady,
                       command.KeepStderr());
        }
        const bool bTold = pidServer > 0 && ::write(pidWrite.Get(), &pidServer, sizeof pidServer) ==
                                                sizeof pidServer;
        ::_exit(bTold ? 0 : 1);
    }
    pidWrite.Reset();
    if (pid < 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid_t pidServer = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        ::read(pidRead.Get(), &pidServer, sizeof pidServer) != sizeof pidServer) {
        return -1;
    }
    return pidServer;
}

// The error pipe closes on a successful exec; it carries errno otherwise,
// which *pnError takes.
bool ExecSucceeded(int hErrorRead, int* pnError) {
    pollfd p{hErrorRead, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) {
        *pnError = ETIMEDOUT;
        return false;
    }
    int err = 0;
    ssize_t n;
    do {
        n = ::read(hErrorRead, &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    *pnError = n == sizeof err ? err : 0;
    return n == 0;
}
}  // namespace

HRESULT CRpcServerLauncher::Start(const std::string& strExe, const std::string& strRuntimeDir) {
    m_nError = 0;
    if (::access(strExe.c_str(), X_OK) != 0) {
        m_nError = errno;
        return CO_E_SERVER_EXEC_FAILURE;
    }
    CServerCommand command(strExe, strRuntimeDir);
    CUniqueFd errorRead, errorWrite, readyRead, readyWrite;
    if (!MakePipe(&errorRead, &errorWrite) || !MakePipe(&readyRead, &readyWrite)) {
        m_nError = errno;
        return CO_E_SERVER_EXEC_FAILURE;
    }
    m_pidServer = SpawnDetached(command, errorWrite.Get(), readyWrite.Get());
    // Only the server holds the write ends now, so their closing says it.
    errorWrite.Reset();
    readyWrite.Reset();
    if (m_pidServer < 0) {
        m_nError = EAGAIN;
        return CO_E_SERVER_EXEC_FAILURE;
    }
    if (!ExecSucceeded(errorRead.Get(), &m_nError)) {
        return CO_E_SERVER_EXEC_FAILURE;
    }
    m_ready = std::move(readyRead);
    m_state = STARTING;
    return S_OK;
}

void CRpcServerLauncher::Abandon() {
    if (m_state != STARTING || !m_ready.IsValid() || m_pidServer <= 0) {
        return;
    }
    // The server is not our child: its pid could be another process's once
    // it has gone. Held by a pidfd first, it is still the server when the
    // ready pipe, which only the server holds open, has not closed since.
    // Through syscall: the C library's declarations lack C linkage here.
    CUniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, m_pidServer, 0)));
    pollfd p{m_ready.Get(), POLLIN, 0};
    if (pidfd.IsValid() && ::poll(&p, 1, 0) == 0) {
        ::syscall(SYS_pidfd_send_signal, pidfd.Get(), SIGKILL, nullptr, 0);
    }
    m_ready.Reset();
    m_state = GONE;
}

CRpcServerLauncher::EState CRpcServerLauncher::Wait(int nMillis) {
    if (m_state != STARTING || !m_ready.IsValid()) {
        if (nMillis > 0) {
            ::poll(nullptr, 0, nMillis);
        }
        return m_state;
    }
    pollfd p{m_ready.Get(), POLLIN, 0};
    if (::poll(&p, 1, nMillis) == 1) {
        char c = 0;
        ssize_t n = ::read(m_ready.Get(), &c, 1);
        m_state = n == 1 ? READY : GONE;
        m_ready.Reset();
    }
    return m_state;
}
