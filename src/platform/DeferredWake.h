// DeferredWake: per thread, the hand-overs to the page's thread that may wait a little, so that
// the events of one burst of work (the answer's headers, the blocks of one read, a file's end,
// the next few small files of a folder) reach the page with one wake-up of its thread instead
// of one each.
//
// A job's worker holds a Scope for its run; inside it, defer() keeps a wake-up and flush()
// runs the kept ones: the transfer before it waits for the network, once the oldest kept
// wake-up has waited a few milliseconds (holdLeftMs; a server that answers sooner adds its
// events to the same burst), a sender before it waits for room in a full queue, and the Scope
// when the run ends. Outside a Scope nothing is kept: the caller wakes the page at once.
// Everything is thread_local, and kept in the platform layer for the reason BlockedTime.h
// gives.
#pragma once

#include <functional>

namespace DeferredWake {

class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

// Keeps `wake` for the next flush(); false outside a Scope (`wake` was not kept).
bool defer(std::function<void()> wake);
// How many more milliseconds the oldest kept wake-up may wait when it may wait `limitMs` in
// all: 0 when none is kept or its time is up.
int holdLeftMs(int limitMs);
// Runs the wake-ups kept so far, oldest first.
void flush();

}  // namespace DeferredWake
