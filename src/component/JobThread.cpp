#include "component/JobThread.h"

#include "platform/DeferredWake.h"

#include <boost/thread/thread.hpp>

bool JobThread::runQueuedBehind() const
{
    std::lock_guard<std::mutex> guard(shared->lock);
    return !shared->bodies.empty();
}

JobThread::~JobThread()
{
    if (!shared)
        return;
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->ending = true;
    shared->changed.notify_all();
}

void JobThread::run(std::function<void()> body)
{
    if (!shared) {
        auto state = std::make_shared<Shared>();
        boost::thread thread(&JobThread::loop, state);  // throws as a new thread per run did
        thread.detach();
        shared = state;
    }
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->bodies.push_back(std::move(body));
    }
    shared->changed.notify_all();  // after the unlock: the woken thread takes the lock at once
}

void JobThread::loop(std::shared_ptr<Shared> state)
{
    DeferredWake::Scope events;  // the runs' events reach the page in bursts
    std::unique_lock<std::mutex> guard(state->lock);
    for (;;) {
        state->changed.wait(guard, [&] { return state->ending || !state->bodies.empty(); });
        if (state->bodies.empty())
            return;  // ending, and nothing left to run
        std::function<void()> body = std::move(state->bodies.front());
        state->bodies.pop_front();
        guard.unlock();
        body();
        body = nullptr;  // its captures (the job among them) go here, before the lock is taken
        guard.lock();
    }
}
