// Dravik::Threading::CriticalSection: a recursive mutual-exclusion lock.
//
// Owned by whoever declares it (the log holds the one instance of this system).
// Any thread may enter it; the owning thread may enter it again and must leave it
// as many times as it entered.
#pragma once

#include <mutex>

namespace Dravik {
namespace Threading {

class CriticalSection {
public:
    CriticalSection() = default;
    virtual ~CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    // Blocks until the lock is free; re-entrant for the owning thread.
    void enter() { mutex.lock(); }
    void leave() { mutex.unlock(); }

private:
    std::recursive_mutex mutex;
};

// Enters a CriticalSection for the lifetime of a scope.
class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CriticalSection& cs) : section(cs) { section.enter(); }
    ~CriticalSectionGuard() { section.leave(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CriticalSection& section;
};

}  // namespace Threading
}  // namespace Dravik
