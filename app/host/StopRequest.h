// StopRequest: a stop that a signal asks of a command run, shared between the signal thread that
// asks and the command, whose control it stops and whose exit code it decides.
//
// One per process run, in static storage: the signal thread may use it until the process ends.
// Any thread.
#pragma once

#include "HostedControl.h"

#include <atomic>
#include <memory>
#include <mutex>

class StopRequest {
public:
    // Records `signal`, then stops the queue of the control being watched, if any, and returns
    // that control (null when there is none).
    std::shared_ptr<HostedControl> ask(int signal);
    // A stop asked from now on stops `control`'s queue (held weakly: it never keeps it alive).
    void watch(const std::shared_ptr<HostedControl>& control);
    // The signal that asked for the stop; 0 while none has.
    int signal() const { return asked.load(); }

private:
    std::atomic<int> asked{0};
    std::mutex lock;
    std::weak_ptr<HostedControl> watched;  // guarded by lock
};
