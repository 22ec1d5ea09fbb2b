// Apartment: the page's thread. One thread runs queued calls one after another, in the order
// they were queued, the way a single-threaded apartment pumps its messages.
//
// Created by a host, which makes its control inside it and routes every page call through
// invoke(); lives until the host destroys it. Any thread may call invoke(); a call made on the
// apartment's own thread runs at once. A thread that must wait on the apartment's own thread
// (for a lock held by a thread that is itself waiting for the apartment) waits with
// pumpUntil(), which keeps running queued calls meanwhile, so neither side waits forever.
//
// After stop() (or destruction) queued calls are dropped and invoke() fails at once, so a
// worker never hangs on an apartment that has gone.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class Apartment : public std::enable_shared_from_this<Apartment> {
    struct Token {};

public:
    // Apartments are shared: the host, the interface table and proxies keep one alive.
    static std::shared_ptr<Apartment> create();
    explicit Apartment(Token);
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

    // The apartment whose thread is calling, or null on any other thread.
    static std::shared_ptr<Apartment> current();

    // Runs `call` on the apartment's thread and returns when it has run: true. False when the
    // apartment has stopped and the call did not run. An exception thrown by the call is
    // thrown again to the caller.
    bool invoke(const std::function<void()>& call);
    // True on the apartment's own thread.
    bool isCurrent() const { return std::this_thread::get_id() == threadId; }
    // Apartment thread only: runs queued calls until `ready` holds. `ready` is tested again
    // after every call run and after every wake(); it must not block. Whoever makes `ready`
    // true from another thread calls wake() afterwards.
    void pumpUntil(const std::function<bool()>& ready);
    // Makes a pumpUntil() test its condition again. Any thread.
    void wake();
    // Ends the thread after the call that is running; later and queued calls fail. Called on
    // the apartment's own thread it ends the thread without waiting for it.
    void stop();

private:
    struct Call {
        std::function<void()> run;
        std::condition_variable done;  // its invoking thread waits here, on `mutex`
        bool finished = false;         // guarded by mutex; set once `run` is over or dropped
        bool ran = false;              // written before `finished`, read after it
        std::exception_ptr error;      // written before `finished`, read after it
    };

    void threadMain();
    // Runs the next queued call; false when there is none. Apartment thread, `lock` held on
    // entry and on return (released while the call runs).
    bool runOne(std::unique_lock<std::mutex>& lock);
    // Marks the call finished and wakes its invoking thread; `lock` is held.
    static void complete(Call& call);

    // Every wait here blocks on a condition variable: an idle apartment and a thread waiting
    // for its call use no CPU.
    std::mutex mutex;
    std::condition_variable arrived;          // the apartment thread waits here for calls and wakes
    std::deque<std::shared_ptr<Call>> queue;  // guarded by mutex
    uint64_t wakes = 0;                       // guarded by mutex; counts wake() calls
    bool threadWaiting = false;               // guarded by mutex: the thread blocks on `arrived`
    bool stopping = false;                    // guarded by mutex
    std::thread thread;
    std::thread::id threadId;                 // set before any call can run; then read-only
};
