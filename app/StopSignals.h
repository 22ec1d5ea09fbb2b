// StopSignals: SIGINT and SIGTERM taken away from every thread and handed, the first of them that
// arrives, to a callback on a thread of their own, so that no handler ever runs inside the
// control's code and the callback may take locks and wait.
//
// start() is called once, on the main thread, before any other thread exists (threads inherit its
// signal mask). The callback runs at most once, on a detached thread that lasts as long as the
// process; a later signal stays pending and does nothing.
#pragma once

#include <functional>

class StopSignals {
public:
    static void start(std::function<void(int signal)> onSignal);
};
