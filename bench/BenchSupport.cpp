#include "BenchSupport.h"

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

bool ParseIntOptions(int argc, char** argv, std::initializer_list<CIntOption> options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto it = std::find_if(options.begin(), options.end(),
                                     [&](const CIntOption& o) { return arg == o.pszName; });
        if (it == options.end() || i + 1 >= argc) {
            return false;
        }
        char* end = nullptr;
        const long v = std::strtol(argv[++i], &end, 10);
        if (*end != '\0' || v < -1 || v > 100000000) {
            return false;
        }
        *it->pValue = static_cast<int>(v);
    }
    return true;
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

CSpread Spread(const std::vector<double>& v) {
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return {Median(v), *lo, *hi};
}
