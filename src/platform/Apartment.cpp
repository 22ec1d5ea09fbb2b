#include "platform/Apartment.h"

#include <chrono>

namespace {

thread_local Apartment* currentApartment = nullptr;

// How long a thread spins before it blocks. Short enough to cost nothing when idle, long
// enough to cover the other thread's turnaround for a call that is already under way.
constexpr auto kSpin = std::chrono::microseconds(50);

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

template <class Ready>
bool spinUntil(Ready ready)
{
    const auto deadline = std::chrono::steady_clock::now() + kSpin;
    do {
        for (int i = 0; i < 64; ++i) {
            if (ready())
                return true;
            cpuRelax();
        }
    } while (std::chrono::steady_clock::now() < deadline);
    return ready();
}

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
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            return false;
        queue.push_back(call);
        ++queued;
        if (threadWaiting)
            arrived.notify_all();
    }
    waitFinished(*call, mutex, finishedCv);
    if (call->error)
        std::rethrow_exception(call->error);
    return call->ran;
}

void Apartment::waitFinished(Call& call, std::mutex& mutex, std::condition_variable& cv)
{
    if (spinUntil([&] { return call.finished.load(); }))
        return;
    std::unique_lock<std::mutex> lock(mutex);
    call.sleeping = true;
    cv.wait(lock, [&] { return call.finished.load(); });
}

void Apartment::complete(Call& call)
{
    call.finished = true;
    // Either the waiter sees `finished` before it sleeps, or we see `sleeping` here.
    if (call.sleeping) {
        std::lock_guard<std::mutex> lock(mutex);
        finishedCv.notify_all();
    }
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
    --queued;
    lock.unlock();
    try {
        call->run();
    } catch (...) {
        call->error = std::current_exception();
    }
    call->ran = true;
    complete(*call);
    lock.lock();
    return true;
}

void Apartment::spinForArrival()
{
    spinUntil([&] { return queued.load() != 0; });
}

void Apartment::threadMain()
{
    currentApartment = this;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (queue.empty() && !stopping) {
            lock.unlock();
            spinForArrival();
            lock.lock();
        }
        threadWaiting = true;
        arrived.wait(lock, [&] { return !queue.empty() || stopping; });
        threadWaiting = false;
        if (stopping)
            break;
        runOne(lock);
    }
    // Calls still queued never run: their callers learn it at once.
    auto dropped = std::move(queue);
    queue.clear();
    queued = 0;
    lock.unlock();
    for (auto& call : dropped)
        complete(*call);
}
