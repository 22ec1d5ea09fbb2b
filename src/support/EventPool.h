// EventPool: five events that pace the jobs of one queue run (the permit protocol).
//
// Owned by the queue thread that made it, for one queue run. release(), wait(), popIdle(),
// allIdle() and idleCount() are called on that thread only, so `items` and `idle` need no
// lock; wake() touches only the shared signal state and may come from any thread.
// The items it hands out are shared: each holds the pool's signal state, which therefore
// outlives the pool, and a job that calls event_item::set() after the pool is gone touches
// only state it co-owns.
//
// An item is idle (in `idle`, not signalled) -> armed (release, or set by its holder) ->
// idle again (taken by wait) -> held (popIdle hands it to a job) -> armed (the job's set).
#pragma once

#include "support/WaitResult.h"

#include <boost/signals2/signal.hpp>

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

// Signal state of the five events; one condition wakes a waiter on any of them.
class EventPoolSignals {
public:
    static constexpr int kCount = 5;

    static constexpr int kTimedOut = -1;
    static constexpr int kWoken = -2;

    void set(int index);
    void reset(int index);
    // Ends a waitAny() without any event: it returns kWoken once.
    void wake();
    // Lowest signalled index; kWoken after wake(); kTimedOut when `milliseconds` passed first
    // (kInfinite: no limit).
    int waitAny(uint32_t milliseconds);

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled[kCount] = {};  // guarded by mutex
    bool woken = false;           // guarded by mutex
};

class event_item {
public:
    event_item(std::shared_ptr<EventPoolSignals> signals, int index);
    // Arms the item's event. Any thread; safe after the pool is destroyed.
    void set();
    int index() const { return idx; }

private:
    friend class EventPool;
    std::shared_ptr<EventPoolSignals> signals;
    int idx;
};

class EventPool {
public:
    EventPool();
    EventPool(const EventPool&) = delete;
    EventPool& operator=(const EventPool&) = delete;

    // Fired by wait() on the waiting thread after it took an event back.
    boost::signals2::signal<void()> onTaken;

    // Arms the first n idle items (n is capped at the number of idle items).
    void release(int n);
    // Waits for any armed event (lowest index wins), resets it, puts its item back on the
    // idle list and fires onTaken. Returns false, with no effect, on a timeout or a wake().
    bool wait(uint32_t milliseconds);
    // Any thread: makes the waiting thread return from wait() so that it can look at its work
    // again (an armed event wins over a wake-up).
    void wake();
    // Removes and returns the first idle item; null when none is idle.
    std::shared_ptr<event_item> popIdle();
    // True when no item is armed and none is held.
    bool allIdle() const;
    // Items neither armed nor held.
    int idleCount() const { return static_cast<int>(idle.size()); }
    // Whether `item` is one of this pool's. Any thread.
    bool owns(const event_item& item) const { return item.signals == handles; }

private:
    const int count = EventPoolSignals::kCount;
    std::shared_ptr<EventPoolSignals> handles;
    std::unordered_map<int, std::shared_ptr<event_item>> items;
    std::list<std::shared_ptr<event_item>> idle;
};
