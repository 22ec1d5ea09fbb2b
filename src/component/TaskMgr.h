// TaskMgr: the process-wide task queue, and the hub that every event of the system passes
// through on its way to the page.
//
// One instance for the whole process, created on first use and never destroyed (worker threads
// may still send while the process exits). The control created last installs its sender with
// setSender() on the page's thread; any thread sends with sendText() (or sendEvent() for an
// event held as a Json::Value).
//
// Queue: pending tasks wait in m_pending, in ascending id order. "start_queue" starts one
// detached queue thread per run; it arms `threadCount` permits of a five-event pool, and every
// permit that comes back starts the next pending task on an idle (or new) job of its kind.
// A job that ends while the next pending task is of its own kind keeps its permit and runs
// that task itself (continueWithNext): a queue of small files then costs neither the queue
// thread's wake-up nor the job thread's per task.
// A task added while the queue runs wakes the queue thread, which arms an idle permit for it,
// so it starts at once when fewer than `threadCount` jobs run. A "start_queue" that meets a
// running queue is remembered; if the run then ends with tasks pending and no stop asked for
// (the page added them while the run was ending), the same thread sends "queue_end" and
// begins a new run with "queue_begin".
// Jobs return themselves to m_idleJobs through `finished` when their run has ended.
//
// Threads and guards:
// - m_lock guards m_pending, m_runningJobs, m_idleJobs and m_stopSlots; it is held only for
//   container operations and logging, never while calling a job, firing a signal or sending;
//   it also guards m_startAsked and every change of m_running, so that a start meeting an
//   ending run is either seen by the run's end or finds the queue stopped, never lost;
// - m_startLock orders the start of a job (queue thread, or the ending job's thread) against
//   "stop_file" and "stop_queue" (page's thread), so a stop can never fall between a task
//   leaving the pending map and its job becoming stoppable; it is held while calling a job's
//   start() or stop(), which only set flags and spawn a thread;
// - m_stop and m_running are atomics (m_running read without m_lock by isBusy()); m_stopAll
//   relies on the signal library's own locking;
// - m_sender is a shared holder swapped under m_senderLock; each sendText() calls the copy it
//   took, outside the lock, so a send in flight finishes with the sender it started with.
#pragma once

#include "component/DownItem.h"

#include <boost/function.hpp>
#include <boost/signals2/signal.hpp>
#include <json/value.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class Downloader;
class EventPool;
class event_item;

class TaskMgr {
public:
    // Takes one event as its JSON text on one line (as EventText and writeCompactJson write it).
    using Sender = boost::function<void(std::string&&)>;
    // Returns once every event sent so far has reached the page.
    using Flush = boost::function<void()>;
    // Told, on the thread concerned, whenever a queue thread or a job's run has ended.
    using Ended = boost::function<void()>;

    static TaskMgr& instance();

    // `flush` may be empty for a sender that returns only once the page has handled the event;
    // `ended` may be empty.
    void setSender(Sender sender, Flush flush = Flush(), Ended ended = Ended());
    // Hands the event to the installed sender, which may return before the page has it (the
    // events of one thread still reach it in order). Throws boost::bad_function_call when no
    // control has installed a sender.
    void sendText(std::string&& event);
    // The same for an event held as a value.
    void sendEvent(const Json::Value& event);

    // Page's thread: queues the task under its id; a task whose id is already pending is
    // dropped (the first one stays). A running task of that id does not matter.
    void addTask(std::shared_ptr<DownItem> item);
    // Page's thread: drops a pending task / every pending task.
    void removeTask(int id);
    void clearTasks();
    // Queue thread: removes and returns the pending task with the smallest id, or null.
    std::shared_ptr<DownItem> takeNextTask();
    // A job's thread, at the end of its run, after `finished`: when the pending task with the
    // smallest id is of the job's kind and the run is going on, starts it on that same job with
    // the permit the ended run held, and returns true; the queue thread is not woken and the
    // job's thread goes straight on to the next run. Otherwise returns false, and the permit goes
    // back to the queue.
    bool continueWithNext(const std::shared_ptr<Downloader>& job, const std::shared_ptr<event_item>& permit);
    // Page's thread: drops a pending task and stops every running job of that id.
    void stopTask(int id);
    // The ids of the running jobs, each once, a task being taken counted among them. Any thread.
    std::vector<int> runningIds();
    // Page's thread: sends "queue_begin" and starts the queue thread, unless a queue runs
    // (then a stop asked for before is withdrawn, and the start is remembered for the end of
    // the run). When no thread can be made, sends "queue_end" and leaves the queue stopped.
    void startQueue();
    // Page's thread: asks the queue to stop and stops every running job; does not wait.
    void stopQueue();
    // True while a queue runs, a queue thread has not yet sent its "queue_end", or a job has
    // events still to send (a stopped job reports its end after the queue may have ended).
    // Any thread.
    bool isBusy() const;
    // A queue thread or a job's run has ended: tells the installed listener. Any thread.
    void activityEnded();

private:
    TaskMgr() = default;

    void queueThreadMain();
    // Queue thread: one run, from arming its permits to "queue_complete" or a stop.
    void runQueue();
    // Queue thread, after a run: sends "queue_end" and, when a start came in during the run
    // and tasks wait, "queue_begin" and returns true for the next run; otherwise marks the
    // queue stopped.
    bool finishRun();
    void startNextTask(EventPool& pool);
    // Under m_lock, with a task pending: removes and returns the one with the smallest id.
    std::shared_ptr<DownItem> popFirstPending();
    // Under m_startLock: makes `job` run `item`, holding `permit`, and stoppable by "stop_queue".
    void startJob(const std::shared_ptr<Downloader>& job, const std::shared_ptr<DownItem>& item,
                  std::shared_ptr<event_item> permit);
    // Queue thread: arms as many of the run's idle permits as there are pending tasks.
    void armForPending(EventPool& pool, int permits);
    std::shared_ptr<Downloader> acquireJob(int kind);
    void onJobFinished(const std::shared_ptr<Downloader>& job);
    void releaseJob(int id, const std::shared_ptr<Downloader>& job);
    void sendQueueEvent(const char* name);
    // Waits until the page has every event sent so far (queue thread).
    void flushEvents();

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};  // changed under m_lock
    std::atomic<int> m_queueThreads{0};  // queue threads that have not yet sent their last event
    bool m_startAsked = false;           // guarded by m_lock: "start_queue" met this run

    std::mutex m_lock;
    std::map<int, std::shared_ptr<DownItem>> m_pending;  // guarded by m_lock
    // Two runs of one id may overlap (a task queued again while its last run ends), so a
    // running entry is always matched by job as well as by id.
    std::unordered_multimap<int, std::shared_ptr<Downloader>> m_runningJobs;  // guarded by m_lock
    std::multimap<int, std::shared_ptr<Downloader>> m_idleJobs;               // guarded by m_lock
    std::map<Downloader*, boost::signals2::connection> m_stopSlots;           // guarded by m_lock
    std::weak_ptr<EventPool> m_pool;  // guarded by m_lock: the running queue's pool, for wake()
                                      // and for telling its permits from a stopped run's

    std::mutex m_startLock;
    boost::signals2::signal<void()> m_stopAll;

    std::mutex m_senderLock;
    std::shared_ptr<const Sender> m_sender;  // guarded by m_senderLock
    std::shared_ptr<const Flush> m_flush;    // guarded by m_senderLock
    std::shared_ptr<const Ended> m_ended;    // guarded by m_senderLock
};
