// EventBacklog: the events a native-messaging host has not yet written to its browser. The
// control hands each event over without waiting, so a browser that reads slowly (or not for a
// while) never holds up a transfer, which would in time fail as a stalled network; a writer thread
// takes the events out in order.
//
// While fewer than `mergeFrom` bytes wait, every event is kept. Past that, a progress event
// ("down_process", "down_part") takes the place of its task's last waiting event when that is a
// progress event of the same name: a browser far behind gets the latest progress instead of a
// flood of stale ones. No other event is ever dropped, and the events of one task keep their
// order, so the backlog grows only by the events that are not progress.
//
// Shared by the control's apartment thread (push) and the writer thread (pop, done); every
// member is guarded by `lock`.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

class EventBacklog {
public:
    explicit EventBacklog(size_t threshold) : mergeFrom(threshold) {}

    // Queues one event's JSON text; never blocks.
    void push(std::string event);
    // Takes the oldest event; blocks until there is one, false once closed and empty.
    bool pop(std::string& event);
    // No more events come: pop() returns false once the backlog is empty.
    void close();
    // The writer has stopped taking events.
    void done();
    // Waits until the writer has stopped, up to `limit`; true when it has.
    bool waitDone(std::chrono::milliseconds limit);

private:
    enum class Kind { other, process, part };
    struct Entry {
        std::string text;
        Kind kind = Kind::other;
    };

    const size_t mergeFrom;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Entry> entries;
    uint64_t firstNumber = 0;            // the number of entries.front(); each entry's is one more
    std::map<int, uint64_t> lastOfTask;  // the number of each task's last waiting entry
    size_t bytes = 0;                    // of the waiting events' texts
    bool closed = false;
    bool writerDone = false;
};
