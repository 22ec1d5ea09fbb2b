// DeliveryLock: the control's send lock. It makes event delivery one at a time, first come
// first served (a ticket lock), and it is arranged so that the page's thread never deadlocks:
//
//  - A worker thread that takes the lock blocks until its turn, then waits (through a proxy)
//    until the page's thread has run the callback for its event.
//  - The page's thread cannot simply block: the holder may be a worker waiting for the page's
//    thread. It waits for its turn with Apartment::pumpUntil, so it keeps running the queued
//    deliveries of the threads ahead of it meanwhile.
//  - While it pumps, the page's thread may run another host thread's call whose handler sends
//    too, and so wait for a second turn inside the first wait. The outer wait cannot go on
//    before the inner one returns, so the page's tickets are one pool: whenever any of them is
//    served, the innermost waiting send on the page's thread takes that turn, and the outer
//    one later takes the turn of the ticket the inner one drew.
//
// Owned by the control; lives as long as it. Any thread.
#pragma once

#include "platform/Apartment.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

class DeliveryLock {
public:
    // Blocks until it is the caller's turn; on `page`'s own thread it pumps `page` meanwhile.
    void acquire(Apartment& page);
    // Passes the turn on and lets a pumping page thread look again.
    void release(Apartment& page);

private:
    bool isPageTurn();

    std::mutex mutex;
    std::condition_variable turnChanged;
    uint64_t nextTicket = 0;         // guarded by mutex
    uint64_t serving = 0;            // guarded by mutex
    std::set<uint64_t> pageTickets;  // guarded by mutex: drawn on the page's thread, not yet served
};
