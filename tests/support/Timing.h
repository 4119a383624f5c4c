// Bounded waits and elapsed times for tests that watch threads and peers.
#pragma once

#include <chrono>
#include <functional>

long MillisSince(std::chrono::steady_clock::time_point start);
// Polls the condition every two milliseconds for at most nMillis; true once it
// holds.
bool WaitUntil(const std::function<bool()>& condition, int nMillis = 5000);
