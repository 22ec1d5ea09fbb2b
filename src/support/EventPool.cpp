#include "support/EventPool.h"

#include <chrono>

void EventPoolSignals::set(int index)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        signalled[index] = true;
    }
    // After the unlock, so that the woken queue thread does not block on the mutex at once; the
    // signals are co-owned by the item whose set() this is, so they outlive the pool here too.
    changed.notify_all();
}

void EventPoolSignals::reset(int index)
{
    std::lock_guard<std::mutex> lock(mutex);
    signalled[index] = false;
}

void EventPoolSignals::wake()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        woken = true;
    }
    changed.notify_all();
}

int EventPoolSignals::waitAny(uint32_t milliseconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    auto lowest = [this] {
        for (int i = 0; i < kCount; ++i)
            if (signalled[i])
                return i;
        if (woken) {
            woken = false;
            return kWoken;
        }
        return kTimedOut;
    };
    int found = kTimedOut;
    auto ready = [&] { return (found = lowest()) != kTimedOut; };
    if (milliseconds == Dravik::Threading::kInfinite)
        changed.wait(lock, ready);
    else
        changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
    return found;
}

event_item::event_item(std::shared_ptr<EventPoolSignals> s, int index) : signals(std::move(s)), idx(index) {}

void event_item::set()
{
    signals->set(idx);
}

EventPool::EventPool() : handles(std::make_shared<EventPoolSignals>())
{
    for (int i = 0; i < count; ++i) {
        auto item = std::make_shared<event_item>(handles, i);
        items[i] = item;
        idle.push_back(item);
    }
}

void EventPool::release(int n)
{
    for (int i = 0; i < n && !idle.empty(); ++i) {
        idle.front()->set();
        idle.pop_front();
    }
}

bool EventPool::wait(uint32_t milliseconds)
{
    int index = handles->waitAny(milliseconds);
    if (index < 0)
        return false;  // timed out, or woken
    handles->reset(index);
    idle.push_back(items[index]);
    onTaken();
    return true;
}

void EventPool::wake()
{
    handles->wake();
}

std::shared_ptr<event_item> EventPool::popIdle()
{
    if (idle.empty())
        return nullptr;
    auto item = idle.front();
    idle.pop_front();
    return item;
}

bool EventPool::allIdle() const
{
    return static_cast<int>(idle.size()) == count;
}
