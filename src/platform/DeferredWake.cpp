#include "platform/DeferredWake.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace DeferredWake {

namespace {

thread_local int scopes = 0;
thread_local std::vector<std::function<void()>>* kept = nullptr;  // while scopes > 0
thread_local std::chrono::steady_clock::time_point firstKept;     // when `kept` stopped being empty

}  // namespace

Scope::Scope()
{
    if (scopes++ == 0)
        kept = new std::vector<std::function<void()>>();
}

Scope::~Scope()
{
    flush();
    if (--scopes == 0) {
        delete kept;
        kept = nullptr;
    }
}

bool defer(std::function<void()> wake)
{
    if (scopes == 0)
        return false;
    if (kept->empty())
        firstKept = std::chrono::steady_clock::now();
    kept->push_back(std::move(wake));
    return true;
}

int holdLeftMs(int limitMs)
{
    if (scopes == 0 || kept->empty())
        return 0;
    const auto held = std::chrono::steady_clock::now() - firstKept;
    return std::max(0, limitMs - static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(held).count()));
}

void flush()
{
    if (scopes == 0 || kept->empty())
        return;
    std::vector<std::function<void()>> due;
    due.swap(*kept);
    for (auto& wake : due)
        wake();
}

}  // namespace DeferredWake
