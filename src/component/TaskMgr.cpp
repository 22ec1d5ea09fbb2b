#include "component/TaskMgr.h"

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
