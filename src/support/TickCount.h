// tickCount: the millisecond tick counter, 32 bits wide, that wraps about every 49.7 days.
//
// A free function with no state; any thread may call it. Callers take differences of two
// ticks in unsigned 32-bit arithmetic, which stay right across the wrap.
#pragma once

#include <chrono>
#include <cstdint>

inline uint32_t tickCount()
{
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}
