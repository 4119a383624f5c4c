#include "tests/support/Timing.h"

#include <thread>

long MillisSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

bool WaitUntil(const std::function<bool()>& condition, int nMillis) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMillis);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
