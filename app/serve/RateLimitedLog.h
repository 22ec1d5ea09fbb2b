// RateLimitedLog: lines on standard error for the person who runs `zelvorn serve`, about requests
// it refused and pages it closed. A page (or anything else) that is refused again and again must
// not flood the terminal: at most kBurst lines are written per kWindow, the rest are counted and
// the count is told with the next line written.
//
// Owned by the server; any thread.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

class RateLimitedLog {
public:
    static constexpr int kBurst = 20;
    static constexpr std::chrono::seconds kWindow{10};

    // Writes "zelvorn serve: <text>" unless the window's lines are used up.
    void line(const std::string& text);

private:
    std::mutex lock;
    std::chrono::steady_clock::time_point windowStart;  // guarded by lock
    int written = 0;                                    // guarded by lock: in this window
    unsigned long dropped = 0;                          // guarded by lock: since the last line written
};
