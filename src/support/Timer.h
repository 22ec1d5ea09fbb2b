// Dravik::Threading::Timer: fires `tick` at once in start() and then about every period (1000
// ms unless the owner chooses another), on the process's timer thread, until stop().
//
// Owned by a download job for the job's lifetime; start() and stop() are called by the job's
// worker thread. The first tick of a run is delivered by start() itself on that thread: a run
// of a small file is shorter than a wake-up of the timer thread. Later `tick` slots run on the
// timer thread, which ticks every running timer of the process in turn: a slot must return
// quickly, and may be called from both threads (never at the same time). Each run has its own
// stop flag, so a stop() ends only the current run and a later start() begins a fresh one.
//
// The thread never touches the Timer itself: it shares the tick signal and a gate with it.
// Destroying a running Timer stops the run the same way; afterwards no slot is called again.
#pragma once

#include <boost/atomic.hpp>
#include <boost/signals2/signal.hpp>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace Dravik {
namespace Threading {

class Timer {
public:
    using StopFlag = std::shared_ptr<boost::atomic<bool>>;

    explicit Timer(std::chrono::milliseconds period = std::chrono::milliseconds(1000));
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Starts a new run: ticks once before it returns, then leaves the run to the timer thread.
    // Call stop() first if a run is going on.
    void start();
    // Ends the current run: its thread fires no further tick and ends within moments. A tick
    // that is being delivered has returned when stop() returns (unless stop() runs inside it).
    void stop();

    struct Shared;  // what the timer thread shares with the Timer

private:
    std::shared_ptr<Shared> shared;

public:
    boost::signals2::signal<void()>& tick;

private:
    StopFlag stopFlag;  // flag of the current run; null before the first start(). Owner's thread.
};

}  // namespace Threading
}  // namespace Dravik
