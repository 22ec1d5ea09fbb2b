#include "RateLimitedLog.h"

#include <cstdio>

void RateLimitedLog::line(const std::string& text)
{
    std::lock_guard<std::mutex> guard(lock);
    const auto now = std::chrono::steady_clock::now();
    if (now - windowStart >= kWindow) {
        windowStart = now;
        written = 0;
    }
    if (written >= kBurst) {
        ++dropped;
        return;
    }
    ++written;
    if (dropped > 0)
        std::fprintf(stderr, "zelvorn serve: (%lu lines were not shown: too many at once)\n", dropped);
    dropped = 0;
    std::fprintf(stderr, "zelvorn serve: %s\n", text.c_str());
}
