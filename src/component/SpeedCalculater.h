// SpeedCalculater: the download speed estimate, the mean of the bytes gained in the last three
// windows of at least 1000 ms each.
//
// Owned by a download job for the job's lifetime and reset at every run. sample() is called
// from the job's worker thread, the HTTP client's callback thread and the job's timer thread;
// every field is guarded by `lock`.
#pragma once

#include "support/TickCount.h"

#include <cstdint>
#include <functional>
#include <mutex>

class SpeedCalculater {
public:
    using Clock = std::function<uint32_t()>;

    // `clock` gives the 32-bit millisecond tick; tests hand in their own.
    explicit SpeedCalculater(Clock clock = tickCount);
    virtual ~SpeedCalculater() = default;
    SpeedCalculater(const SpeedCalculater&) = delete;
    SpeedCalculater& operator=(const SpeedCalculater&) = delete;

    // Restarts the estimate at `base` bytes; a new window begins now.
    void reset(int64_t base);
    // Feeds the current position. Closes the window once at least 1000 ms have passed since it
    // began (each closed window counts as one second) and returns the estimate in bytes per
    // second; earlier calls return the last estimate without computing anything.
    int64_t sample(int64_t position);

private:
    const Clock clock;

    std::mutex lock;
    int32_t count = 0;    // windows closed since reset, modulo 3: the ring slot filled next
    int64_t basePos = 0;  // position at the end of the last closed window
    int64_t lastSpeed = 0;
    int64_t window[3] = {};    // bytes gained in each of the last three windows
    uint32_t windowStart = 0;  // tick at which the current window began
};
