#include "component/SpeedCalculater.h"

#include <limits>

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// Positions come from the page and may be anything; differences saturate instead of wrapping.
int64_t saturate(__int128 value)
{
    return value > kMax ? kMax : value < kMin ? kMin : static_cast<int64_t>(value);
}

}  // namespace

SpeedCalculater::SpeedCalculater(Clock now) : clock(std::move(now))
{
    reset(0);
}

void SpeedCalculater::reset(int64_t base)
{
    std::lock_guard<std::mutex> guard(lock);
    basePos = base;
    lastSpeed = 0;
    count = 0;
    window[0] = window[1] = window[2] = 0;
    windowStart = clock();
}

int64_t SpeedCalculater::sample(int64_t position)
{
    std::lock_guard<std::mutex> guard(lock);
    const uint32_t now = clock();
    if (static_cast<uint32_t>(now - windowStart) < 1000)
        return lastSpeed;
    windowStart = now;

    window[count] = saturate(static_cast<__int128>(position) - basePos);
    basePos = position;
    count = (count + 1) % 3;

    const __int128 sum = static_cast<__int128>(window[0]) + window[1] + window[2];
    // The mean of three int64 values is an int64 again; only the double rounding may reach 2^63.
    lastSpeed = sum > 0 ? saturate(static_cast<__int128>(static_cast<double>(sum) / 3.0)) : 0;
    return lastSpeed;
}
