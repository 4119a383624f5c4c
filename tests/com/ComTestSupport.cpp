#include "ComTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "FakeSerialPort.h"
#include "platform/com/RpcSettings.h"

extern char** environ;

CTempDir::CTempDir() {
    char path[] = "/tmp/regprobe-com-XXXXXX";
    if (::mkdtemp(path) != nullptr) {
        m_strPath = path;
    }
}

CTempDir::~CTempDir() {
    std::error_code ec;
    if (!m_strPath.empty()) {
        std::filesystem::remove_all(m_strPath, ec);
    }
}

std::string CTempDir::WriteFile(const std::string& strName, const std::string& strText, int nMode) {
    std::string strPath = m_strPath + "/" + strName;
    int h = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (h >= 0) {
        ssize_t n = ::write(h, strText.data(), strText.size());
        (void)n;
        ::fchmod(h, static_cast<mode_t>(nMode));
        ::close(h);
    }
    return strPath;
}

std::string TestServerPath() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string str(path, n > 0 ? size_t(n) : 0);
    return str.substr(0, str.rfind('/') + 1) + "regprobe-test-com-server";
}

CTestServerProcess::CTestServerProcess(const std::vector<std::string>& args,
                                       const std::string& strRuntimeDir) {
    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
        return;
    }
    std::string strExe = TestServerPath();
    std::vector<std::string> strings = {strExe};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    std::string strDir = std::string(RPC_RUNTIME_DIR_VARIABLE) + "=" + strRuntimeDir;
    std::vector<char*> envp;
    for (char** pp = environ; *pp != nullptr; ++pp) {
        envp.push_back(*pp);
    }
    envp.push_back(strDir.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    if (posix_spawn(&m_pid, strExe.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    m_hInput = input[1];
    m_hOutput = output[0];
}

CTestServerProcess::~CTestServerProcess() {
    ::close(m_hInput);
    ::close(m_hOutput);
    if (m_pid <= 0) {
        return;
    }
    bool bGone = WaitUntil([this] { return ::waitpid(m_pid, nullptr, WNOHANG) == m_pid; }, 5000);
    if (!bGone) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::string CTestServerProcess::ReadLine(int nMillis) {
    std::string str;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMillis);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_hOutput, POLLIN, 0};
        if (::poll(&p, 1, 20) != 1) {
            continue;
        }
        char c;
        if (::read(m_hOutput, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            return str;
        }
        str.push_back(c);
    }
    return std::string();
}

VARIANT MakeArray(VARTYPE vtElement, LONG lLbound, const std::vector<LONG>& values) {
    VARIANT var;
    VariantInit(&var);
    SAFEARRAY* psa = SafeArrayCreateVector(vtElement, lLbound, static_cast<ULONG>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        if (vtElement == VT_UI1) {
            static_cast<BYTE*>(psa->pvData)[i] = static_cast<BYTE>(values[i]);
        } else if (vtElement == VT_I2) {
            static_cast<SHORT*>(psa->pvData)[i] = static_cast<SHORT>(values[i]);
        } else {
            static_cast<LONG*>(psa->pvData)[i] = values[i];
        }
    }
    var.vt = VT_ARRAY | vtElement;
    var.parray = psa;
    return var;
}

std::vector<LONG> ArrayValues(const VARIANT& var) {
    std::vector<LONG> values;
    if ((var.vt & VT_ARRAY) == 0 || var.parray == nullptr) {
        return values;
    }
    VARTYPE vt = var.vt & VT_TYPEMASK;
    for (ULONG i = 0; i < var.parray->rgsabound[0].cElements; ++i) {
        if (vt == VT_UI1) {
            values.push_back(static_cast<BYTE*>(var.parray->pvData)[i]);
        } else if (vt == VT_I2) {
            values.push_back(static_cast<SHORT*>(var.parray->pvData)[i]);
        } else {
            values.push_back(static_cast<LONG*>(var.parray->pvData)[i]);
        }
    }
    return values;
}

LONG RunFakeCommand(IModbusSerialPort* pPort, BYTE byCode) {
    VARIANT request = MakeArray(VT_UI1, 0, {FAKE_COMMAND, byCode});
    VARIANT response;
    VariantInit(&response);
    LONG nStatus = 0;
    HRESULT hr = pPort->Transfer(request, 2, &response, 4, nullptr, &nStatus);
    std::vector<LONG> bytes = ArrayValues(response);
    VariantClear(&request);
    VariantClear(&response);
    if (FAILED(hr) || bytes.size() != 4) {
        return -1;
    }
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24;
}

bool WaitUntil(const std::function<bool()>& condition, int nMillis) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMillis);
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
