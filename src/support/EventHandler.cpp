#include "support/EventHandler.h"

#include <chrono>

namespace Dravik {
namespace Threading {

void EventHandler::set()
{
    std::lock_guard<std::mutex> lock(mutex);
    signalled = true;
    changed.notify_all();
}

void EventHandler::reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    signalled = false;
}

uint32_t EventHandler::wait(const uint32_t& milliseconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (milliseconds == kInfinite) {
        changed.wait(lock, [this] { return signalled; });
        return kWaitObject0;
    }
    bool ok = changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return signalled; });
    return ok ? kWaitObject0 : kWaitTimeout;
}

}  // namespace Threading
}  // namespace Dravik
