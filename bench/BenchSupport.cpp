#include "BenchSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/CommandLine.h"

bool AreBenchValues(const unsigned short* pValues, int n) {
    if (n != kBenchCount) {
        return false;
    }
    for (int i = 0; i < kBenchCount; ++i) {
        if (pValues[i] != BenchValue(i)) {
            return false;
        }
    }
    return true;
}

std::string BenchValuesArgument() {
    std::string strHolding = "0=";
    for (int i = 0; i < kBenchCount; ++i) {
        strHolding += (i > 0 ? "," : "") + std::to_string(BenchValue(i));
    }
    return strHolding;
}

int ParseIntOptions(int argc, char** argv, std::initializer_list<CIntOption> options,
                    UsageText pszUsage) {
    std::vector<CCommandLine::COption> names;
    for (const CIntOption& option : options) {
        names.push_back({option.pszName, true});
    }
    CString strError;
    const CCommandLine::EResult result = CCommandLine::Parse(
        argc, argv, names,
        [&](const CString& strName, const CString& strValue, CString& strWhy) {
            for (const CIntOption& option : options) {
                long long n = 0;
                if (strName != option.pszName) {
                    continue;
                }
                if (!CCommandLine::ParseNumber(strName, strValue, option.nMin, option.nMax, n,
                                               strWhy)) {
                    return false;
                }
                *option.pValue = static_cast<int>(n);
            }
            return true;
        },
        strError);
    switch (result) {
        case CCommandLine::EResult::HELP:
            std::printf(pszUsage, argv[0]);
            return 0;
        case CCommandLine::EResult::BAD:
            std::fprintf(stderr, "%s: %s (see --help)\n", argv[0], strError.c_str());
            return 2;
        default:
            return -1;
    }
}

int StartBench(int argc, char** argv, std::initializer_list<CIntOption> options, UsageText pszUsage,
               const int& nCpu) {
    if (const int rc = ParseIntOptions(argc, argv, options, pszUsage); rc >= 0) {
        return rc;
    }
    ::alarm(kWatchdogSeconds);
    return PinToCpu(nCpu) ? -1 : 2;
}

bool PinToCpu(int nCpu) {
    if (nCpu < 0) {
        return true;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(nCpu, &set);
    if (::sched_setaffinity(0, sizeof set, &set) != 0) {
        std::fprintf(stderr, "cannot run on CPU %d: %s\n", nCpu, std::strerror(errno));
        return false;
    }
    return true;
}

void StopProcess(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 != 0 ? v[m] : (v[m - 1] + v[m]) / 2;
}

double Percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

CSpread Spread(const std::vector<double>& v) {
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return {Median(v), *lo, *hi};
}

bool CChild::Start(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int hPipe[2];
    if (::pipe2(hPipe, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& s : args) {
        argv.push_back(const_cast<char*>(s.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            _exit(127);
        }
        int hNull = ::open("/dev/null", O_RDONLY);
        if (hNull < 0 || ::dup2(hNull, 0) < 0 || ::dup2(hPipe[1], 1) < 0) {
            _exit(127);
        }
        for (const std::string& s : env) {
            ::putenv(const_cast<char*>(s.c_str()));
        }
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(hPipe[1]);
    if (m_pid < 0) {
        ::close(hPipe[0]);
        return false;
    }
    m_hOut = hPipe[0];
    return true;
}

bool CChild::ReadLine(std::string& strLine, int nMillis) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMillis);
    for (;;) {
        size_t nEnd = m_strPending.find('\n');
        if (nEnd != std::string::npos) {
            strLine = m_strPending.substr(0, nEnd);
            m_strPending.erase(0, nEnd + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd pfd{m_hOut, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&pfd, 1, int(left.count())) <= 0) {
            return false;
        }
        char buffer[256];
        ssize_t n = ::read(m_hOut, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        m_strPending.append(buffer, size_t(n));
    }
}

bool CChild::IsRunning() const {
    return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0;
}

void CChild::Stop() {
    if (m_pid > 0) {
        StopProcess(m_pid);
        m_pid = -1;
    }
    if (m_hOut >= 0) {
        ::close(m_hOut);
        m_hOut = -1;
    }
}

int ConnectRawSocket(const sockaddr_in& sa, int nType, bool bBounded) {
    const int h = ::socket(AF_INET, nType | SOCK_CLOEXEC, 0);
    if (h < 0) {
        return -1;
    }
    if (::connect(h, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(h);
        return -1;
    }
    if (bBounded) {
        const timeval tv{10, 0};
        ::setsockopt(h, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(h, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }
    return h;
}
