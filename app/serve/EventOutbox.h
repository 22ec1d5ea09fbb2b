// EventOutbox: the events of one session, numbered from 1 in the order its control sent them and
// kept until the page acknowledges them, so that a page that comes back (a reload, a lost socket)
// receives every event it has not yet handed to its script. Bounded: past `limit` bytes the
// oldest go, and the outbox remembers that events were lost until the page has been told.
//
// Owned by its session; used on the session's strand only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class EventOutbox {
public:
    using Text = std::shared_ptr<const std::string>;  // shared with the sockets that send it
    struct Entry {
        uint64_t number;
        Text text;
    };

    explicit EventOutbox(size_t maxBytes) : limit(maxBytes) {}

    // The number the next event gets.
    uint64_t nextNumber() const { return next; }
    // Keeps `text` as the next event and returns it with its number.
    const Entry& push(std::string text);
    // The page has handed every event up to `number` to its script; later numbers than the last
    // event count as the last.
    void acknowledge(uint64_t number);
    // The last event the page has handed to its script (0: none). Events dropped for the bound
    // are not counted: the page never saw them.
    uint64_t acknowledged() const { return acked; }
    // The events not yet acknowledged that are still kept, oldest first.
    const std::deque<Entry>& unacknowledged() const { return kept; }
    // True while event `number` waits for its acknowledgement here.
    bool holds(uint64_t number) const;
    // True once, after events were dropped unacknowledged.
    bool takeLost();

private:
    const size_t limit;
    std::deque<Entry> kept;
    size_t bytes = 0;
    uint64_t next = 1;
    uint64_t acked = 0;
    bool lost = false;
};
