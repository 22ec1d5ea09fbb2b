#include "platform/Apartment.h"

namespace {

thread_local Apartment* currentApartment = nullptr;

}  // namespace

std::shared_ptr<Apartment> Apartment::create()
{
    return std::make_shared<Apartment>(Token{});
}

Apartment::Apartment(Token)
{
    thread = std::thread(&Apartment::threadMain, this);
    threadId = thread.get_id();
}

Apartment::~Apartment()
{
    stop();
}

std::shared_ptr<Apartment> Apartment::current()
{
    return currentApartment ? currentApartment->shared_from_this() : nullptr;
}

bool Apartment::invoke(const std::function<void()>& run)
{
    if (isCurrent()) {
        run();
        return true;
    }
    auto call = std::make_shared<Call>();
    call->run = run;
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (stopping)
            return false;
        queue.push_back(call);
        if (threadWaiting)
            arrived.notify_one();
        call->done.wait(lock, [&] { return call->finished; });
    }
    if (call->error)
        std::rethrow_exception(call->error);
    return call->ran;
}

void Apartment::complete(Call& call)
{
    call.finished = true;
    call.done.notify_one();
}

void Apartment::pumpUntil(const std::function<bool()>& ready)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        const uint64_t seen = wakes;
        lock.unlock();
        if (ready())
            return;
        lock.lock();
        if (runOne(lock))
            continue;
        // After stop() no call runs here any more, but wake() still ends the wait.
        threadWaiting = true;
        arrived.wait(lock, [&] { return wakes != seen || (!queue.empty() && !stopping); });
        threadWaiting = false;
    }
}

void Apartment::wake()
{
    std::lock_guard<std::mutex> lock(mutex);
    ++wakes;
    if (threadWaiting)
        arrived.notify_all();
}

void Apartment::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            return;
        stopping = true;
        arrived.notify_all();
    }
    if (!thread.joinable())
        return;
    if (isCurrent())
        thread.detach();
    else
        thread.join();
}

bool Apartment::runOne(std::unique_lock<std::mutex>& lock)
{
    if (queue.empty() || stopping)
        return false;
    auto call = queue.front();
    queue.pop_front();
    lock.unlock();
    try {
        call->run();
    } catch (...) {
        call->error = std::current_exception();
    }
    call->ran = true;
    lock.lock();
    complete(*call);
    return true;
}

void Apartment::threadMain()
{
    currentApartment = this;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        threadWaiting = true;
        arrived.wait(lock, [&] { return !queue.empty() || stopping; });
        threadWaiting = false;
        if (stopping)
            break;
        runOne(lock);
    }
    // Calls still queued never run: their callers learn it at once.
    for (auto& call : queue)
        complete(*call);
    queue.clear();
}
