// BlockedTime: how long the calling thread has spent waiting for the page to take its events,
// so that a transfer's stall limit counts only time in which the server sent nothing, never
// time in which the transfer's own thread was held up by a slow page.
//
// Per thread (thread_local): a Span adds to the total of the thread that made it, and a
// transfer reads the total of its own thread. Kept in the platform layer, which every process
// loads at its start: thread-local storage of the module, loaded later, is allocated and freed
// per thread by the loader, which ThreadSanitizer cannot follow.
#pragma once

#include <chrono>
#include <cstdint>

namespace BlockedTime {

// Milliseconds this thread has spent in Spans so far.
int64_t total();

// Counts the time from its construction to its destruction.
class Span {
public:
    Span() : begun(std::chrono::steady_clock::now()) {}
    ~Span();
    Span(const Span&) = delete;
    Span& operator=(const Span&) = delete;

private:
    const std::chrono::steady_clock::time_point begun;
};

}  // namespace BlockedTime
