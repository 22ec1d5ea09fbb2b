// Downloader: the file job. Runs one file task at a time as one resumable transfer (one HTTP
// GET from the task's stored length, appended to the local file), reporting to the page with
// "down_*" events that carry everything the page saves to resume later.
//
// How a run ends, as the page sees it: "down_complete"; or "down_error" with its code, followed
// by "down_stoped" when the run had begun writing the local file (it ends as a stopped run, so
// the task is kept resumable); or "down_stoped" alone when the page stopped it.
//
// Owned by the task queue through shared pointers: made on first need, reused for later tasks
// of its kind, alive until the process ends. The queue sets `item` and `doneEvent`, then calls
// start(), on its queue thread or, when the job goes straight on to the next task, on the job's
// own worker thread at the end of the run before; the run goes on in the job's worker thread
// (JobThread, kept from run to run), which holds the job and its task until the run ends.
// stop() may come from any thread at any time.
//
// Threads and guards:
// - the worker runs runJob and every transfer handler; the timer thread runs onTick;
// - `abortHook` is installed and cleared by the worker and called by stop(), all under
//   `abortLock`, so the transfer it points to cannot be destroyed while stop() calls into it;
// - `stopFlag`, `speed` and `lastPartMark` are atomics; `meter` has a lock of its own;
// - the task's `lenLoc` and `lenSvr` are atomics (read by the timer thread and the progress
//   texts while the worker writes them);
// - `item` and `doneEvent` are written before start(), under the queue's start lock, by the
//   queue thread or by the job's own worker at the end of the run before.
// The end of a run fires `finished`, then sets `doneEvent`; from then on the queue may start the
// job again, so the ending worker touches only its own copies after that point.
#pragma once

#include "component/DownItem.h"
#include "component/JobThread.h"
#include "component/ProgressText.h"
#include "component/ResumableTransfer.h"
#include "component/SpeedCalculater.h"
#include "net/ConnectionCache.h"
#include "support/EventPool.h"
#include "support/ThreadChecker.h"
#include "support/Timer.h"

#include <boost/atomic.hpp>
#include <boost/function.hpp>
#include <boost/signals2/signal.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class Downloader : public std::enable_shared_from_this<Downloader> {
public:
    Downloader();
    virtual ~Downloader();

    // The job as a shared pointer; throws std::bad_weak_ptr when no shared pointer owns it.
    virtual std::shared_ptr<Downloader> self();
    // Begins a run of `item` on a thread of its own and returns at once.
    virtual void start();
    // Asks the current run to end; does not wait for it.
    virtual void stop();
    // Runs of any job whose worker thread has not yet sent its last event. Any thread.
    static int runsInFlight();

    // Fired once at the end of every run, with the job, on the worker thread.
    boost::signals2::signal<void(std::shared_ptr<Downloader>)> finished;
    int32_t kind = DownItem::kFileKind;
    std::shared_ptr<DownItem> item;
    std::shared_ptr<event_item> doneEvent;

protected:
    using StopFlag = std::shared_ptr<boost::atomic<bool>>;

    // Hands one run to the job's worker thread; the run counts as in flight until `body` has
    // returned. `body` holds the job (a shared pointer), which keeps the job alive to the end of
    // the run.
    void spawnRun(std::function<void()> body);

    // Clears the marks of the previous run: part mark, speed estimate, stop flag.
    void resetForRun();
    // Runs `transfer` with this job's stop() able to end it.
    ResumableTransfer::Result runTransfer(ResumableTransfer& transfer);
    // The end of every run: `finished`, the permit (handed to the next task of this job's kind,
    // else back to the queue), then "down_stoped" when `endsStopped`. From the call on, the
    // queue may start this job again: only the arguments are used.
    static void endRun(const std::shared_ptr<Downloader>& job, const std::shared_ptr<DownItem>& task, bool endsStopped);

    // Sends one event of the current task: "id" and "name" are added here.
    void sendEvent(const std::shared_ptr<DownItem>& task, const char* name, EventText event = EventText());
    // "down_error" with the failed run's code, and its HTTP status and reason when it has them.
    void sendError(const std::shared_ptr<DownItem>& task, const ResumableTransfer::Result& result);
    void sendStopped(const std::shared_ptr<DownItem>& task);
    // The texts and lengths of "down_process" for `lenLoc` of the job's task.
    EventText progressMembers() const;
    // "down_recv_size" with that length.
    void sendServerLength(int64_t length);

    // Timer thread: samples the speed.
    void onTick();

    std::atomic<int64_t> speed{0};
    StopFlag stopFlag;
    Dravik::Threading::Timer timer;
    ProgressText progressText;
    SpeedCalculater meter;
    std::atomic<int64_t> lastPartMark{0};
    // The worker thread of the current run: it binds this first, and the transfer hooks check it.
    ThreadChecker runThread;
    // Open connections kept between the requests of this job: the job serves task after task
    // (a folder's files, a queue's file tasks), mostly from one server, and a connection per
    // request would cost more than a small file. Made by the constructor, then only read.
    const std::shared_ptr<ConnectionCache> connections;

private:
    static void runJob(std::shared_ptr<Downloader> job, std::shared_ptr<DownItem> task);

    // Transfer hooks, worker thread.
    void onProgress(unsigned long count);
    void onServerName(ResumableTransfer& transfer, const std::wstring& name);
    void onStored(int64_t count);

    void sendComplete(const std::string& duration);

    std::mutex abortLock;
    boost::function<void()> abortHook;  // guarded by abortLock
    JobThread runner;                   // start()'s only (under the queue's start lock)
};
