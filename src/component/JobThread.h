// JobThread: the thread a job's runs go on, made at the job's first run and kept for the next
// ones, so that a queue of small files does not cost a thread per file. Runs are taken one after
// another in the order they were handed over; a run handed over while the last one still ends
// (its last events) waits for it.
//
// Owned by its job. run() is called from the queue's thread, or from the job's own thread at
// the end of a run when the job goes straight on to its next task (that run follows as soon as
// the calling one returns, without a wait). The thread shares its state with the JobThread
// (under `lock`) and ends once the JobThread is destroyed and the run in progress has returned.
// It is detached: the job may be destroyed from inside one of its own runs.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class JobThread {
public:
    JobThread() = default;
    ~JobThread();
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;

    // Hands `body` to the thread, starting it on first use (boost::thread_resource_error when
    // no thread can be made). Each body runs inside one DeferredWake::Scope that the thread
    // holds for its whole life, so wake-ups kept by one run may be sent by the next.
    void run(std::function<void()> body);
    // From inside a body, on the thread: whether another body waits behind it.
    bool runQueuedBehind() const;

private:
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        std::deque<std::function<void()>> bodies;  // guarded by lock
        bool ending = false;                       // guarded by lock
    };
    static void loop(std::shared_ptr<Shared> state);

    // Null until the first run(), which sets it before handing the thread a body; never changed
    // after, so the thread may read it (runQueuedBehind) without the lock.
    std::shared_ptr<Shared> shared;
};
