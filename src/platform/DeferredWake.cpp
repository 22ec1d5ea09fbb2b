#include "platform/DeferredWake.h"

#include <vector>

namespace DeferredWake {

namespace {

thread_local int scopes = 0;
thread_local std::vector<std::function<void()>>* kept = nullptr;  // while scopes > 0

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
    kept->push_back(std::move(wake));
    return true;
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
