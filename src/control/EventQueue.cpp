#include "control/EventQueue.h"

#include "platform/BlockedTime.h"
#include "platform/DeferredWake.h"

EventQueue::Pushed EventQueue::push(std::string text)
{
    std::unique_lock<std::mutex> guard(lock);
    const auto full = [&] {
        return !waiting.empty() && (waiting.size() >= kMaxEvents || waitingBytes + text.size() > kMaxBytes);
    };
    if (full() && !closed) {
        // The page's thread may not know yet that events wait for it.
        guard.unlock();
        DeferredWake::flush();
        guard.lock();
        BlockedTime::Span blocked;
        roomFreed.wait(guard, [&] { return closed || !full(); });
    }
    if (closed)
        return Pushed::dropped;
    waitingBytes += text.size();
    waiting.push_back(std::move(text));
    if (draining)
        return Pushed::queued;
    draining = true;
    return Pushed::needsDrain;
}

bool EventQueue::pop(std::string& text)
{
    std::lock_guard<std::mutex> guard(lock);
    if (waiting.empty()) {
        draining = false;
        return false;
    }
    text = std::move(waiting.front());
    waiting.pop_front();
    waitingBytes -= text.size();
    roomFreed.notify_all();
    return true;
}

void EventQueue::close()
{
    std::lock_guard<std::mutex> guard(lock);
    closed = true;
    waiting.clear();
    waitingBytes = 0;
    draining = false;
    roomFreed.notify_all();
}

bool EventQueue::busy() const
{
    std::lock_guard<std::mutex> guard(lock);
    return draining || !waiting.empty();
}
