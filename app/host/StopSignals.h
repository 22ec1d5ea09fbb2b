// StopSignals: SIGINT and SIGTERM taken away from every thread, so that no handler ever runs
// inside the control's code, and handed to the one place that waits for them: the first of them
// that arrives goes to a callback on a thread of their own (start), or to a thread that waits
// (wait), which may then take locks and wait in turn.
//
// block() or start() is called once, on the main thread, before any other thread exists
// (threads inherit its signal mask). start()'s callback runs at most once, on a detached thread
// that lasts as long as the process; a later signal stays pending and does nothing.
#pragma once

#include <functional>

class StopSignals {
public:
    // Blocks both signals in this thread and in every thread it starts from now on.
    static void block();
    // After block(): waits for the first of them and returns it.
    static int wait();
    // block(), then `onSignal` with the first of them, on a thread of its own.
    static void start(std::function<void(int signal)> onSignal);
};
