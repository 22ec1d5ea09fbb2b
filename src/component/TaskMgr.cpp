#include "component/TaskMgr.h"

#include "component/Config.h"
#include "component/FdDownloader.h"
#include "hosting/Protocol.h"
#include "log/Log.h"
#include "support/EventPool.h"
#include "support/EventText.h"
#include "support/JsonText.h"

#include <boost/thread/thread.hpp>

#include <algorithm>

TaskMgr& TaskMgr::instance()
{
    static TaskMgr* const manager = new TaskMgr();
    return *manager;
}

void TaskMgr::setSender(Sender sender, Flush flush, Ended ended)
{
    auto replacement = std::make_shared<const Sender>(std::move(sender));
    auto flusher = std::make_shared<const Flush>(std::move(flush));
    auto listener = std::make_shared<const Ended>(std::move(ended));
    std::lock_guard<std::mutex> lock(m_senderLock);
    m_sender.swap(replacement);
    m_flush.swap(flusher);
    m_ended.swap(listener);
}

void TaskMgr::activityEnded()
{
    std::shared_ptr<const Ended> listener;
    {
        std::lock_guard<std::mutex> lock(m_senderLock);
        listener = m_ended;
    }
    if (listener && *listener)
        (*listener)();
}

void TaskMgr::sendEvent(const Json::Value& event)
{
    sendText(writeCompactJson(event));
}

void TaskMgr::sendText(std::string&& event)
{
    std::shared_ptr<const Sender> sender;
    {
        std::lock_guard<std::mutex> lock(m_senderLock);
        sender = m_sender;
    }
    if (!sender)
        throw boost::bad_function_call();
    (*sender)(std::move(event));
}

void TaskMgr::addTask(std::shared_ptr<DownItem> item)
{
    std::shared_ptr<EventPool> pool;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_pending.count(item->id))
            return;
        ZLOG("添加任务,id:" << item->id);
        m_pending.emplace(item->id, std::move(item));
        pool = m_pool.lock();
    }
    if (pool)
        pool->wake();
}

void TaskMgr::removeTask(int id)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_pending.erase(id);
}

void TaskMgr::clearTasks()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_pending.clear();
}

std::shared_ptr<DownItem> TaskMgr::takeNextTask()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pending.empty() ? nullptr : popFirstPending();
}

std::shared_ptr<DownItem> TaskMgr::popFirstPending()
{
    auto first = m_pending.begin();
    auto item = std::move(first->second);
    m_pending.erase(first);
    ZLOG("获取任务,id:" << item->id);
    return item;
}

bool TaskMgr::isBusy() const
{
    return m_running.load() || m_queueThreads.load() > 0 || Downloader::runsInFlight() > 0;
}

void TaskMgr::stopTask(int id)
{
    removeTask(id);
    std::lock_guard<std::mutex> starting(m_startLock);
    std::vector<std::shared_ptr<Downloader>> jobs;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto range = m_runningJobs.equal_range(id);
        for (auto it = range.first; it != range.second; ++it)
            jobs.push_back(it->second);
    }
    // The entries stay until each run has ended: releaseJob moves the job to the idle pool.
    for (auto& job : jobs)
        job->stop();
}

std::vector<int> TaskMgr::runningIds()
{
    // m_startLock first: a task that has left m_pending but is not yet in m_runningJobs counts.
    std::lock_guard<std::mutex> starting(m_startLock);
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<int> ids;
    for (const auto& entry : m_runningJobs)
        if (ids.empty() || ids.back() != entry.first)
            ids.push_back(entry.first);
    return ids;
}

void TaskMgr::startQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop.exchange(false);
        // Marked here, on the page's thread, so two quick "start_queue" never start two
        // threads. A start that meets a running queue is remembered: should that run be
        // ending already, its thread begins the next run (see finishRun).
        if (m_running.load()) {
            m_startAsked = true;
            return;
        }
        m_running.exchange(true);
        m_startAsked = false;
    }
    sendQueueEvent(Protocol::Event::queueBegin);
    ++m_queueThreads;
    try {
        boost::thread queue(&TaskMgr::queueThreadMain, this);
        queue.detach();
    } catch (const boost::thread_resource_error& error) {
        ZLOG("队列线程创建失败:" << error.what());
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_running.exchange(false);
        }
        sendQueueEvent(Protocol::Event::queueEnd);
        --m_queueThreads;
    }
}

void TaskMgr::stopQueue()
{
    m_stop.exchange(true);
    std::lock_guard<std::mutex> starting(m_startLock);
    m_stopAll();
}

void TaskMgr::queueThreadMain()
{
    do
        runQueue();
    while (finishRun());
    --m_queueThreads;  // after "queue_end" is on its way: until then the queue is busy
    activityEnded();
}

bool TaskMgr::finishRun()
{
    bool again;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        again = m_startAsked && !m_pending.empty() && !m_stop.load();
        m_startAsked = false;
        if (!again)
            m_running.exchange(false);
    }
    sendQueueEvent(Protocol::Event::queueEnd);
    if (again)
        sendQueueEvent(Protocol::Event::queueBegin);
    return again;
}

void TaskMgr::runQueue()
{
    auto pool = std::make_shared<EventPool>();
    pool->onTaken.connect([this, raw = pool.get()] { startNextTask(*raw); });
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pool = pool;
    }
    // A count below 1 would arm no permit and the queue would wait for ever: run one at a time.
    const int permits = std::clamp(Config::instance().threadCount.load(), 1, Protocol::kMaxThreadCount);
    pool->release(permits);
    for (;;) {
        pool->wait(Dravik::Threading::kInfinite);  // a permit came back, or a task was added
        if (m_stop.load())
            break;
        armForPending(*pool, permits);
        // Every job of this run holds one of its permits until it has left m_runningJobs, and
        // a pending task would have got an idle permit just now: all permits idle means the
        // run is done. Jobs still ending from a stopped earlier run hold permits of their own
        // pool and do not keep this run alive.
        if (pool->allIdle()) {
            sendQueueEvent(Protocol::Event::queueComplete);
            // The run stays running while the page handles "queue_complete": a "start_queue"
            // from that handler joins this run instead of starting another.
            flushEvents();
            break;
        }
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_pool.reset();
}

void TaskMgr::armForPending(EventPool& pool, int permits)
{
    // The pool holds five items; those beyond the run's permits are never armed.
    const int available = pool.idleCount() - (EventPoolSignals::kCount - permits);
    int pending;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        pending = static_cast<int>(m_pending.size());
    }
    const int arm = std::min(available, pending);
    if (arm > 0)
        pool.release(arm);
}

void TaskMgr::startNextTask(EventPool& pool)
{
    std::lock_guard<std::mutex> starting(m_startLock);
    if (m_stop.load())
        return;
    auto item = takeNextTask();
    if (!item)
        return;
    startJob(acquireJob(item->kind), item, pool.popIdle());
}

bool TaskMgr::continueWithNext(const std::shared_ptr<Downloader>& job, const std::shared_ptr<event_item>& permit)
{
    std::lock_guard<std::mutex> starting(m_startLock);
    if (m_stop.load())
        return false;
    std::shared_ptr<DownItem> item;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        // A permit of a stopped earlier run must go back to its own pool: it does not count
        // toward this run's thread count.
        auto pool = m_pool.lock();
        if (!pool || !pool->owns(*permit) || m_pending.empty() || m_pending.begin()->second->kind != job->kind)
            return false;
        auto idle = m_idleJobs.equal_range(job->kind);
        auto self = std::find_if(idle.first, idle.second, [&](const auto& entry) { return entry.second == job; });
        if (self == idle.second)
            return false;
        m_idleJobs.erase(self);
        item = popFirstPending();
    }
    startJob(job, item, permit);
    return true;
}

void TaskMgr::startJob(const std::shared_ptr<Downloader>& job, const std::shared_ptr<DownItem>& item,
                       std::shared_ptr<event_item> permit)
{
    job->item = item;
    job->doneEvent = std::move(permit);
    auto slot = m_stopAll.connect([job] { job->stop(); });
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_runningJobs.emplace(item->id, job);
        m_stopSlots[job.get()] = slot;
    }
    job->start();
}

std::shared_ptr<Downloader> TaskMgr::acquireJob(int kind)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto idle = m_idleJobs.find(kind);
        if (idle != m_idleJobs.end()) {
            auto job = idle->second;
            m_idleJobs.erase(idle);
            return job;
        }
    }
    std::shared_ptr<Downloader> job;
    if (kind == DownItem::kFolderKind)
        job = std::make_shared<FdDownloader>();
    else
        job = std::make_shared<Downloader>();
    job->finished.connect([this](std::shared_ptr<Downloader> ended) { onJobFinished(ended); });
    return job;
}

void TaskMgr::onJobFinished(const std::shared_ptr<Downloader>& job)
{
    releaseJob(job->item->id, job);
}

void TaskMgr::releaseJob(int id, const std::shared_ptr<Downloader>& job)
{
    boost::signals2::connection slot;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto range = m_runningJobs.equal_range(id);
        for (auto it = range.first; it != range.second; ++it)
            if (it->second == job) {
                m_runningJobs.erase(it);
                break;
            }
        auto found = m_stopSlots.find(job.get());
        if (found != m_stopSlots.end()) {
            slot = found->second;
            m_stopSlots.erase(found);
        }
        m_idleJobs.emplace(job->kind, job);
    }
    slot.disconnect();
}

void TaskMgr::flushEvents()
{
    std::shared_ptr<const Flush> flush;
    {
        std::lock_guard<std::mutex> lock(m_senderLock);
        flush = m_flush;
    }
    if (flush && *flush)
        (*flush)();
}

void TaskMgr::sendQueueEvent(const char* name)
{
    EventText event;
    event.string(Protocol::Member::name, name);
    sendText(event.line());
}
