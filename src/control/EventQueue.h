// EventQueue: the events on their way to the page, in the order they were sent. Threads other
// than the page's append and go on; the page's thread alone takes them out and delivers them.
// A sender waits only when the page is a bounded amount behind (kMaxEvents events or kMaxBytes
// of text), which keeps the back-pressure of a call that waits for every event without its
// cost: one hand-over to the page's thread serves a whole run of events.
//
// Owned by the control, as long as it lives. push() and busy() from any thread; pop() from the
// page's thread only; close() from the page's thread when the page unloads. Everything is
// guarded by `lock`.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

class EventQueue {
public:
    // Room for the events of many small files that a job's thread sends before it lets the
    // page's thread know (DeferredWake), so the senders seldom wait for it.
    static constexpr size_t kMaxEvents = 1024;
    static constexpr size_t kMaxBytes = 1024 * 1024;

    enum class Pushed {
        queued,      // a drain is already on its way to the page's thread
        needsDrain,  // the queue was idle: the caller hands the page's thread a drain
        dropped      // closed: the page has gone
    };
    // Appends `text`, first waiting (off the page's thread) while the queue is full; one event
    // larger than the bound is taken when the queue is empty. The time spent waiting is added
    // to BlockedTime, so that a slow page is never taken for a silent server.
    Pushed push(std::string text);
    // Page's thread: takes the oldest event into `text`; false when none is left, which ends
    // the drain (the next push asks for a new one).
    bool pop(std::string& text);
    // The page unloaded: what waits is dropped, later pushes too, and waiting senders go on.
    void close();
    // True while events wait or a drain is on its way.
    bool busy() const;

private:
    mutable std::mutex lock;
    std::condition_variable roomFreed;
    std::deque<std::string> waiting;  // guarded by lock
    size_t waitingBytes = 0;          // guarded by lock
    bool draining = false;            // guarded by lock: a drain was asked for and has not ended
    bool closed = false;              // guarded by lock
};
