// Dravik::Threading::EventHandler: one manual-reset event.
//
// Owned by the object that declares it (HttpDowner, FdDownloader). set() may be called from
// any thread; a set event stays signalled until reset() and wakes every waiter meanwhile.
#pragma once

#include "support/WaitResult.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Dravik {
namespace Threading {

class EventHandler {
public:
    EventHandler() = default;
    virtual ~EventHandler() = default;
    EventHandler(const EventHandler&) = delete;
    EventHandler& operator=(const EventHandler&) = delete;

    void set();
    void reset();
    // Waits until the event is signalled or `milliseconds` pass (kInfinite: no limit).
    // Returns kWaitObject0 when signalled, kWaitTimeout otherwise.
    uint32_t wait(const uint32_t& milliseconds);

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;  // guarded by mutex
};

}  // namespace Threading
}  // namespace Dravik
