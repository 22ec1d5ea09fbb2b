#include "component/TaskMgr.h"

#include "log/Log.h"

TaskMgr& TaskMgr::instance()
{
    static TaskMgr* const manager = new TaskMgr();
    return *manager;
}

void TaskMgr::setSender(Sender sender)
{
    auto replacement = std::make_shared<const Sender>(std::move(sender));
    std::lock_guard<std::mutex> lock(m_senderLock);
    m_sender.swap(replacement);
}

void TaskMgr::sendEvent(Json::Value& event)
{
    std::shared_ptr<const Sender> sender;
    {
        std::lock_guard<std::mutex> lock(m_senderLock);
        sender = m_sender;
    }
    if (!sender)
        throw boost::bad_function_call();
    (*sender)(event);
}

void TaskMgr::addTask(std::shared_ptr<DownItem> item)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_pending.count(item->id))
        return;
    ZLOG("添加任务,id:" << item->id);
    m_pending.emplace(item->id, std::move(item));
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
    if (m_pending.empty())
        return nullptr;
    auto first = m_pending.begin();
    auto item = std::move(first->second);
    m_pending.erase(first);
    ZLOG("获取任务,id:" << item->id);
    return item;
}
