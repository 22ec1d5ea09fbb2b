#include "platform/Apartment.h"

namespace {

// The owner of the apartment whose thread this is, kept in its core, which outlives the
// thread's last call.
thread_local std::weak_ptr<Apartment>* currentOwner = nullptr;

}  // namespace

std::shared_ptr<Apartment> Apartment::create()
{
    auto apartment = std::make_shared<Apartment>(Token{});
    std::lock_guard<std::mutex> lock(apartment->core->mutex);
    apartment->core->owner = apartment;
    return apartment;
}

Apartment::Apartment(Token) : core(std::make_shared<Core>())
{
    thread = std::thread(&Apartment::threadMain, core);
    threadId = thread.get_id();
}

Apartment::~Apartment()
{
    stop();
}

std::shared_ptr<Apartment> Apartment::current()
{
    return currentOwner ? currentOwner->lock() : nullptr;
}

bool Apartment::invoke(const std::function<void()>& run)
{
    if (isCurrent()) {
        run();
        return true;
    }
    auto call = std::make_shared<Call>();
    call->run = run;
    call->waited = true;
    {
        std::unique_lock<std::mutex> lock(core->mutex);
        bool threadWaits = false;
        if (!core->enqueue(call, threadWaits))
            return false;
        if (threadWaits)
            core->arrived.notify_one();
        call->done.wait(lock, [&] { return call->finished; });
    }
    if (call->error)
        std::rethrow_exception(call->error);
    return call->ran;
}

bool Apartment::post(std::function<void()> run)
{
    auto call = std::make_shared<Call>();
    call->run = std::move(run);
    bool threadWaits = false;
    {
        std::lock_guard<std::mutex> lock(core->mutex);
        if (!core->enqueue(call, threadWaits))
            return false;
    }
    // Woken after the unlock, the thread finds the mutex free instead of blocking on it at once.
    if (threadWaits)
        core->arrived.notify_one();
    return true;
}

bool Apartment::Core::enqueue(const std::shared_ptr<Call>& call, bool& threadWaits)
{
    if (stopping)
        return false;
    queue.push_back(call);
    threadWaits = threadWaiting;
    return true;
}

void Apartment::complete(Call& call)
{
    call.finished = true;
    call.done.notify_one();
}

void Apartment::pumpUntil(const std::function<bool()>& ready)
{
    // A call run here may drop the apartment's last reference: only the core, kept here, is used.
    const std::shared_ptr<Core> kept = core;
    std::unique_lock<std::mutex> lock(kept->mutex);
    for (;;) {
        const uint64_t seen = kept->wakes;
        lock.unlock();
        if (ready())
            return;
        lock.lock();
        if (kept->runOne(lock))
            continue;
        // After stop() no call runs here any more, but wake() still ends the wait.
        kept->threadWaiting = true;
        kept->arrived.wait(lock, [&] { return kept->wakes != seen || (!kept->queue.empty() && !kept->stopping); });
        kept->threadWaiting = false;
    }
}

void Apartment::wake()
{
    bool threadWaits = false;
    {
        std::lock_guard<std::mutex> lock(core->mutex);
        ++core->wakes;
        threadWaits = core->threadWaiting;
    }
    if (threadWaits)
        core->arrived.notify_all();
}

void Apartment::stop()
{
    {
        std::lock_guard<std::mutex> lock(core->mutex);
        if (!core->stopping) {
            core->stopping = true;
            core->arrived.notify_all();
        }
    }
    if (!thread.joinable())
        return;
    if (isCurrent())
        thread.detach();
    else
        thread.join();
}

bool Apartment::Core::runOne(std::unique_lock<std::mutex>& lock)
{
    if (queue.empty() || stopping)
        return false;
    auto call = queue.front();
    queue.pop_front();
    lock.unlock();
    try {
        call->run();
    } catch (...) {
        if (call->waited)
            call->error = std::current_exception();
    }
    call->ran = true;
    // A posted call's captures go here, on this thread and without the lock: they may hold the
    // apartment's last reference.
    if (!call->waited)
        call->run = nullptr;
    lock.lock();
    complete(*call);
    return true;
}

void Apartment::threadMain(std::shared_ptr<Core> core)
{
    currentOwner = &core->owner;
    std::unique_lock<std::mutex> lock(core->mutex);
    for (;;) {
        core->threadWaiting = true;
        core->arrived.wait(lock, [&] { return !core->queue.empty() || core->stopping; });
        core->threadWaiting = false;
        if (core->stopping)
            break;
        core->runOne(lock);
    }
    // Calls still queued never run: their callers learn it at once.
    for (auto& call : core->queue)
        complete(*call);
    auto dropped = std::move(core->queue);
    lock.unlock();
    currentOwner = nullptr;
}
