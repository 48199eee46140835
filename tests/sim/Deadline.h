#pragma once
// Waits on a condition of a real-time peer (a pty server's counters), looking every
// millisecond until it holds or the bound runs out: never a fixed wait.

#include <poll.h>

#include <chrono>

template <typename Condition>
bool WaitUntil(Condition done, int boundMs = 2000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        (void)::poll(nullptr, 0, 1);
    }
    return true;
}
