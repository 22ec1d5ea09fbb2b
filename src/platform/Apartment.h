// Apartment: the page's thread. One thread runs queued calls one after another, in the order
// they were queued, the way a single-threaded apartment pumps its messages.
//
// Created by a host, which makes its control inside it and routes every page call through
// invoke() or post(); shared by the host, the interface table and proxies, and stopped by
// stop() or by the destruction of the last reference. Any thread may call invoke() and post();
// a call invoked on the apartment's own thread runs at once. A thread that must wait on the
// apartment's own thread (for a lock held by a thread that is itself waiting for the
// apartment, or for a dialog) waits with pumpUntil(), which keeps running queued calls
// meanwhile, so neither side waits forever.
//
// After stop() queued calls are dropped and invoke() fails at once, so a worker never hangs on
// an apartment that has gone. The thread keeps what it needs (its queue and lock) alive by
// itself, so the apartment may be stopped, and its last reference dropped, from inside one of
// its own calls.
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
    static std::shared_ptr<Apartment> create();
    explicit Apartment(Token);
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

    // The apartment whose thread is calling, or null on any other thread (and once the
    // apartment's last reference is gone).
    static std::shared_ptr<Apartment> current();

    // Runs `call` on the apartment's thread and returns when it has run: true. False when the
    // apartment has stopped and the call did not run. An exception thrown by the call is
    // thrown again to the caller.
    bool invoke(const std::function<void()>& call);
    // Queues `call` behind the calls already queued and returns at once, as a posted message
    // does: true when it was queued (it runs unless the apartment stops first). Whatever the
    // call throws is dropped. Also on the apartment's own thread, the call waits its turn.
    bool post(std::function<void()> call);
    // True on the apartment's own thread.
    bool isCurrent() const { return std::this_thread::get_id() == threadId; }
    // Apartment thread only: runs queued calls until `ready` holds. `ready` is tested again
    // after every call run and after every wake(); it must not block. Whoever makes `ready`
    // true from another thread calls wake() afterwards.
    void pumpUntil(const std::function<bool()>& ready);
    // Makes a pumpUntil() test its condition again. Any thread.
    void wake();
    // Ends the thread after the call that is running; later and queued calls fail. From
    // another thread it waits until the thread has ended; on the apartment's own thread it
    // returns at once and the thread ends when the running calls return.
    void stop();

private:
    struct Call {
        std::function<void()> run;
        bool waited = false;           // invoke()'s: the caller waits and takes the error
        std::condition_variable done;  // its invoking thread waits here, on the core's mutex
        bool finished = false;         // guarded by the core's mutex; set once `run` is over or dropped
        bool ran = false;              // written before `finished`, read after it
        std::exception_ptr error;      // written before `finished`, read after it
    };
    // Everything the thread touches, owned jointly by the apartment and its thread. Every wait
    // here blocks on a condition variable: an idle apartment and a thread waiting for its call
    // use no CPU.
    struct Core {
        std::weak_ptr<Apartment> owner;  // set by create() before any call is queued
        std::mutex mutex;
        std::condition_variable arrived;          // the thread waits here for calls and wakes
        std::deque<std::shared_ptr<Call>> queue;  // guarded by mutex
        uint64_t wakes = 0;                       // guarded by mutex; counts wake() calls
        bool threadWaiting = false;               // guarded by mutex: the thread blocks on `arrived`
        bool stopping = false;                    // guarded by mutex

        // Runs the next queued call; false when there is none. Apartment thread, `lock` held
        // on entry and on return (released while the call runs).
        bool runOne(std::unique_lock<std::mutex>& lock);
        // Queues a call; false once stopping. `threadWaits` tells whether the thread blocks on
        // `arrived` and must be notified. `lock` is held.
        bool enqueue(const std::shared_ptr<Call>& call, bool& threadWaits);
    };

    static void threadMain(std::shared_ptr<Core> core);
    // Marks the call finished and wakes its invoking thread; the core's lock is held.
    static void complete(Call& call);

    std::shared_ptr<Core> core;
    std::thread thread;
    std::thread::id threadId;  // set before any call can run; then read-only
};
