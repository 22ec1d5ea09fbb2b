// TaskMgr: the process-wide task queue, and the hub that every event of the system passes
// through on its way to the page.
//
// One instance for the whole process, created on first use and never destroyed (worker threads
// may still send while the process exits). The control created last installs its sender with
// setSender() on the page's thread; any thread sends with sendEvent().
//
// Pending tasks wait in m_pending, keyed and ordered by id, guarded by m_lock. m_lock is held
// only for container operations and logging, never while sending.
//
// m_sender is replaced while other threads may be sending: it is a shared holder swapped under
// m_senderLock, and each sendEvent() calls the copy it took, outside the lock, so a send in
// flight finishes with the sender it started with.
#pragma once

#include "component/DownItem.h"

#include <boost/function.hpp>
#include <json/value.h>

#include <map>
#include <memory>
#include <mutex>

class TaskMgr {
public:
    using Sender = boost::function<void(Json::Value&)>;

    static TaskMgr& instance();

    void setSender(Sender sender);
    // Hands the event to the installed sender and returns when the page has handled it.
    // Throws boost::bad_function_call when no control has installed a sender.
    void sendEvent(Json::Value& event);

    // Page's thread: queues the task under its id; a task whose id is already pending is
    // dropped (the first one stays).
    void addTask(std::shared_ptr<DownItem> item);
    // Page's thread: drops a pending task / every pending task.
    void removeTask(int id);
    void clearTasks();
    // Queue thread: removes and returns the pending task with the smallest id, or null.
    std::shared_ptr<DownItem> takeNextTask();

private:
    TaskMgr() = default;

    std::mutex m_lock;
    std::map<int, std::shared_ptr<DownItem>> m_pending;  // guarded by m_lock

    std::mutex m_senderLock;
    std::shared_ptr<const Sender> m_sender;  // guarded by m_senderLock
};
