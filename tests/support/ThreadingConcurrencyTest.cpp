#include "support/CriticalSection.h"
#include "support/EventHandler.h"
#include "support/EventPool.h"
#include "support/Timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace Dravik::Threading;
using namespace std::chrono_literals;

TEST(EventHandlerConcurrency, SetStaysSignalledAndWakesEveryWaiter)
{
    EventHandler event;
    EXPECT_EQ(event.wait(10), kWaitTimeout);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (event.wait(kInfinite) == kWaitObject0)
                ++woken;
        });
    std::this_thread::sleep_for(20ms);
    event.set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woken.load(), 4);
    EXPECT_EQ(event.wait(0), kWaitObject0);  // still set: manual reset
    EXPECT_EQ(event.wait(0), kWaitObject0);
    event.reset();
    EXPECT_EQ(event.wait(10), kWaitTimeout);
}

TEST(CriticalSectionConcurrency, IsRecursiveAndExcludesOtherThreads)
{
    CriticalSection cs;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            CriticalSectionGuard outer(cs);
            CriticalSectionGuard inner(cs);  // the owner may enter again
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

TEST(EventPoolConcurrency, ReleaseWaitAndIdleBookkeeping)
{
    EventPool pool;
    int taken = 0;
    pool.onTaken.connect([&] { ++taken; });
    EXPECT_TRUE(pool.allIdle());
    pool.release(2);
    EXPECT_FALSE(pool.allIdle());
    EXPECT_TRUE(pool.wait(kInfinite));
    EXPECT_TRUE(pool.wait(kInfinite));
    EXPECT_FALSE(pool.wait(20));  // nothing armed: times out without firing
    EXPECT_EQ(taken, 2);
    EXPECT_TRUE(pool.allIdle());

    auto held = pool.popIdle();
    ASSERT_TRUE(held);
    EXPECT_FALSE(pool.allIdle());
    held->set();
    EXPECT_FALSE(pool.allIdle());
    EXPECT_TRUE(pool.wait(kInfinite));
    EXPECT_TRUE(pool.allIdle());
}

TEST(EventPoolConcurrency, WakeEndsAWaitWithoutTakingAnything)
{
    EventPool pool;
    int taken = 0;
    pool.onTaken.connect([&] { ++taken; });
    std::thread waker([&] {
        std::this_thread::sleep_for(20ms);
        pool.wake();
    });
    EXPECT_FALSE(pool.wait(kInfinite));  // returns only because of the wake-up
    waker.join();
    EXPECT_EQ(taken, 0);
    EXPECT_TRUE(pool.allIdle());
    EXPECT_EQ(pool.idleCount(), 5);

    pool.release(1);
    pool.wake();
    EXPECT_TRUE(pool.wait(kInfinite));   // an armed event wins over a wake-up
    EXPECT_FALSE(pool.wait(kInfinite));  // the wake-up is still there, once
    EXPECT_FALSE(pool.wait(10));
    EXPECT_EQ(taken, 1);
}

TEST(EventPoolConcurrency, LowestSignalledIndexWins)
{
    EventPool pool;
    pool.release(5);
    std::vector<int> order;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(pool.wait(kInfinite));
        order.push_back(pool.popIdle()->index());
    }
    // Each wait took the lowest armed index; the item taken back is the one popped next.
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(pool.popIdle(), nullptr);  // all five are held now
}

// The queue's use: n permits, each taken permit starts a "job" on another thread that
// sets its item when done; never more than n jobs at once, and every job is counted.
TEST(EventPoolConcurrency, PermitProtocolAcrossThreads)
{
    constexpr int kPermits = 3;
    constexpr int kJobs = 200;
    EventPool pool;
    std::atomic<int> running{0}, maxRunning{0}, done{0};
    int started = 0;
    std::vector<std::thread> threads;
    pool.onTaken.connect([&] {
        if (started == kJobs)
            return;
        ++started;
        auto permit = pool.popIdle();
        ASSERT_TRUE(permit);
        threads.emplace_back([&, permit] {
            int now = ++running;
            int seen = maxRunning.load();
            while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            --running;
            ++done;
            permit->set();
        });
    });
    pool.release(kPermits);
    while (!(started == kJobs && pool.allIdle()))
        ASSERT_TRUE(pool.wait(5000));
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(done.load(), kJobs);
    EXPECT_LE(maxRunning.load(), kPermits);
    EXPECT_GE(maxRunning.load(), 1);
}

TEST(EventPoolConcurrency, ItemStaysValidAfterThePoolIsGone)
{
    std::shared_ptr<event_item> item;
    {
        EventPool pool;
        pool.release(1);
        ASSERT_TRUE(pool.wait(kInfinite));
        item = pool.popIdle();
    }
    std::thread late([item] { item->set(); });  // a job ending after its queue run
    late.join();
    SUCCEED();  // under AddressSanitizer a dead event would be reported here
}

// The timer's period is a parameter, so these run at 50 ms and the counts still tell a timer
// that ticks too often, too late or after its stop from one that keeps time.
constexpr auto kPeriod = 50ms;

TEST(TimerConcurrency, FirstTickComesInStartAndAShortPeriodWakesTheTimerThread)
{
    Timer slow(std::chrono::hours(1));  // a timer that waited a period first would never tick here
    std::atomic<int> slowTicks{0};
    slow.tick.connect([&] { ++slowTicks; });
    slow.start();
    EXPECT_EQ(slowTicks.load(), 1);

    // The timer thread now waits an hour for `slow`; a run due sooner must cut that wait short.
    std::this_thread::sleep_for(kPeriod);
    Timer quick(kPeriod);
    std::atomic<int> quickTicks{0};
    quick.tick.connect([&] { ++quickTicks; });
    quick.start();
    for (int i = 0; i < 5000 && quickTicks.load() < 3; ++i)
        std::this_thread::sleep_for(1ms);
    quick.stop();
    slow.stop();
    EXPECT_GE(quickTicks.load(), 3);
    EXPECT_EQ(slowTicks.load(), 1);
}

TEST(TimerConcurrency, TicksOncePerPeriodAndNoneAfterStop)
{
    Timer timer(kPeriod);
    std::atomic<int> ticks{0};
    timer.tick.connect([&] { ++ticks; });
    const auto begin = std::chrono::steady_clock::now();
    timer.start();
    std::this_thread::sleep_for(6 * kPeriod);
    timer.stop();
    const int afterStop = ticks.load();
    EXPECT_GE(afterStop, 2);
    EXPECT_LE(afterStop, 1 + (std::chrono::steady_clock::now() - begin) / kPeriod);  // never faster
    std::this_thread::sleep_for(4 * kPeriod);
    EXPECT_EQ(ticks.load(), afterStop);
}

TEST(TimerConcurrency, StopStartRacesKeepOneLiveRun)
{
    Timer timer(kPeriod);
    std::atomic<int> ticks{0};
    timer.tick.connect([&] { ++ticks; });
    for (int i = 0; i < 200; ++i) {
        timer.start();
        timer.stop();
    }
    timer.start();
    std::this_thread::sleep_for(2 * kPeriod);
    const int before = ticks.load();
    const auto from = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(10 * kPeriod);
    // Exactly one run is alive: one tick per period, not one per started run (thousands).
    const int gained = ticks.load() - before;
    EXPECT_GE(gained, 1);
    EXPECT_LE(gained, 2 + (std::chrono::steady_clock::now() - from) / kPeriod);
    timer.stop();
}

TEST(TimerConcurrency, DestroyingARunningTimerWaitsForTheTickAndStops)
{
    std::atomic<int> ticks{0};
    std::atomic<bool> inTick{false};
    {
        Timer timer(kPeriod);
        timer.tick.connect([&] {
            inTick = true;
            std::this_thread::sleep_for(kPeriod);
            ++ticks;
            inTick = false;
        });
        timer.start();
        while (!inTick.load())
            std::this_thread::sleep_for(1ms);
    }  // destroyed while a tick is being delivered
    EXPECT_FALSE(inTick.load());
    const int seen = ticks.load();
    std::this_thread::sleep_for(4 * kPeriod);
    EXPECT_EQ(ticks.load(), seen);
}

TEST(TimerConcurrency, DestroyedFromInsideItsOwnTick)
{
    auto timer = std::make_shared<Timer>(kPeriod);
    std::atomic<int> ticks{0};
    std::atomic<bool> destroyed{false};
    std::shared_ptr<Timer> keep = timer;
    timer->tick.connect([&] {
        ++ticks;
        if (keep) {
            keep.reset();  // last owner: the destructor runs on the timer thread
            destroyed = true;
        }
    });
    timer->start();
    timer.reset();
    while (!destroyed.load())
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(3 * kPeriod);
    EXPECT_EQ(ticks.load(), 1);  // the run ended with its timer
}
