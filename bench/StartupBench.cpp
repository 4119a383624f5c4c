// Start-up time of regprobe (splash suppressed) against a minimal Qt main
// window program: from starting the process to its main window being mapped
// on the X server, the median of several runs of each, side by side. The
// ratio against the bare window is the one that counts; the same window
// with a menu bar, tool bar and status bar shows what those cost anyway.
// Uses $DISPLAY when set, otherwise starts an Xvfb of its own. The runs are
// pinned to one CPU.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 15;
constexpr int kMapTimeoutMs = 20000;

// The child's output goes nowhere, so that nothing it leaves behind holds
// our own output open.
pid_t Spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int nError = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return nError == 0 ? pid : -1;
}

// Starts a private X server when there is none; its pid, or 0.
pid_t StartXvfb() {
    if (std::getenv("DISPLAY") != nullptr) {
        return 0;
    }
    for (int n = 300; n < 400; ++n) {
        std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        struct stat st;
        if (stat(lock.c_str(), &st) == 0 || stat(socket.c_str(), &st) == 0) {
            continue;
        }
        std::string display = ":" + std::to_string(n);
        pid_t pid = Spawn({"/usr/bin/Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten",
                           "tcp", "-noreset"});
        if (pid <= 0) {
            return -1;
        }
        setenv("DISPLAY", display.c_str(), 1);
        for (int i = 0; i < 100; ++i) {
            if (Display* d = XOpenDisplay(nullptr)) {
                XCloseDisplay(d);
                return pid;
            }
            usleep(100000);
        }
        StopProcess(pid);
        return -1;
    }
    return -1;
}

// Milliseconds from spawning the program to the first top-level window it
// maps; negative on failure.
double TimeToMap(Display* pDisplay, const std::vector<std::string>& argv) {
    XSelectInput(pDisplay, DefaultRootWindow(pDisplay), SubstructureNotifyMask);
    XSync(pDisplay, True);  // drop what came before
    Clock::time_point start = Clock::now();
    pid_t pid = Spawn(argv);
    if (pid <= 0) {
        return -1;
    }
    double ms = -1;
    pollfd pfd{ConnectionNumber(pDisplay), POLLIN, 0};
    while (ms < 0) {
        while (XPending(pDisplay) > 0 && ms < 0) {
            XEvent event;
            XNextEvent(pDisplay, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect) {
                ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            }
        }
        if (ms >= 0) {
            break;
        }
        int remaining =
            kMapTimeoutMs - static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 Clock::now() - start)
                                                 .count());
        if (remaining <= 0 || poll(&pfd, 1, remaining) <= 0) {
            break;
        }
    }
    StopProcess(pid);
    return ms;
}

// Stops the private X server however the run ends.
struct CXvfbGuard {
    pid_t pid;
    ~CXvfbGuard() {
        if (pid > 0) {
            StopProcess(pid);
        }
    }
};
}  // namespace

int main() {
    CXvfbGuard xvfb{StartXvfb()};
    if (xvfb.pid < 0) {
        std::fprintf(stderr, "startup bench: no X display and Xvfb could not start\n");
        return 1;
    }
    Display* pDisplay = XOpenDisplay(nullptr);
    if (pDisplay == nullptr) {
        std::fprintf(stderr, "startup bench: cannot open display %s\n", std::getenv("DISPLAY"));
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    PinToCpu(0);  // the children inherit it

    const std::vector<std::string> regprobe = {REGPROBE_PROGRAM, "-Embedding"};
    const std::vector<std::string> minimal = {REGPROBE_MINIMAL_PROGRAM};
    const std::vector<std::string> chrome = {REGPROBE_MINIMAL_PROGRAM, "--chrome"};
    // One of each first, so that all find the libraries in the page cache.
    TimeToMap(pDisplay, regprobe);
    TimeToMap(pDisplay, minimal);
    TimeToMap(pDisplay, chrome);
    std::vector<double> ours;
    std::vector<double> bare;
    std::vector<double> withChrome;
    for (int i = 0; i < kRuns; ++i) {
        double a = TimeToMap(pDisplay, regprobe);
        double b = TimeToMap(pDisplay, minimal);
        double c = TimeToMap(pDisplay, chrome);
        if (a < 0 || b < 0 || c < 0) {
            std::fprintf(stderr, "startup bench: a window did not appear (%s)\n",
                         a < 0   ? "regprobe"
                         : b < 0 ? "minimal"
                                 : "minimal --chrome");
            XCloseDisplay(pDisplay);
            return 1;
        }
        ours.push_back(a);
        bare.push_back(b);
        withChrome.push_back(c);
    }
    double mOurs = Median(ours);
    double mBare = Median(bare);
    double mChrome = Median(withChrome);
    std::printf("start-up to main window shown, median of %d runs (one CPU)\n", kRuns);
    std::printf("  regprobe -Embedding                  %8.1f ms\n", mOurs);
    std::printf("  minimal Qt main window               %8.1f ms   ratio %5.2f\n", mBare,
                mOurs / mBare);
    std::printf("  same with menu, tool and status bar  %8.1f ms   ratio %5.2f\n", mChrome,
                mOurs / mChrome);
    XCloseDisplay(pDisplay);
    return 0;
}
