#include "platform/Apartment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(ApartmentConcurrency, RunsCallsOnItsThreadInOrderAndWaits)
{
    auto page = Apartment::create();
    std::thread::id pageThread;
    page->invoke([&] { pageThread = std::this_thread::get_id(); });
    EXPECT_NE(pageThread, std::this_thread::get_id());
    EXPECT_FALSE(page->isCurrent());
    EXPECT_EQ(Apartment::current(), nullptr);

    std::vector<int> seen;
    for (int i = 0; i < 100; ++i)
        page->invoke([&, i] {
            EXPECT_TRUE(page->isCurrent());
            EXPECT_EQ(Apartment::current(), page);
            seen.push_back(i);
        });
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(seen[i], i);
}

TEST(ApartmentConcurrency, InvokeOnItsOwnThreadRunsAtOnce)
{
    auto page = Apartment::create();
    int depth = 0;
    page->invoke([&] {
        page->invoke([&] { depth = 2; });  // would deadlock if it were queued
        EXPECT_EQ(depth, 2);
        depth = 1;
    });
    EXPECT_EQ(depth, 1);
}

TEST(ApartmentConcurrency, ManyCallersAreSerialised)
{
    auto page = Apartment::create();
    int counter = 0;  // touched only on the apartment's thread
    std::atomic<int> inside{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t)
        callers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i)
                page->invoke([&] {
                    EXPECT_EQ(++inside, 1);
                    ++counter;
                    --inside;
                });
        });
    for (auto& c : callers)
        c.join();
    page->invoke([&] { EXPECT_EQ(counter, 16000); });
}

TEST(ApartmentConcurrency, ExceptionsReachTheCaller)
{
    auto page = Apartment::create();
    EXPECT_THROW(page->invoke([] { throw std::runtime_error("page failed"); }), std::runtime_error);
    EXPECT_TRUE(page->invoke([] {}));  // the apartment goes on
}

TEST(ApartmentConcurrency, PumpUntilRunsQueuedCallsWhileWaiting)
{
    auto page = Apartment::create();
    std::atomic<bool> ready{false};
    std::atomic<bool> workerCallRan{false};
    std::thread worker;
    page->invoke([&] {
        // A worker needs the page's thread before it can make `ready` true: a plain wait here
        // would deadlock.
        worker = std::thread([&] {
            page->invoke([&] { workerCallRan = true; });
            ready = true;
            page->wake();
        });
        page->pumpUntil([&] { return ready.load(); });
    });
    worker.join();
    EXPECT_TRUE(workerCallRan.load());
}

TEST(ApartmentConcurrency, StoppedApartmentFailsCallsAtOnce)
{
    auto page = Apartment::create();
    std::atomic<bool> release{false}, occupied{false};
    std::thread blocker([&] {
        page->invoke([&] {
            occupied = true;
            while (!release)
                std::this_thread::yield();
        });
    });
    while (!occupied)
        std::this_thread::yield();
    std::atomic<int> failed{0};
    std::thread queued([&] {
        if (!page->invoke([] {}))
            ++failed;
    });
    // No condition tells that the call is queued and the stop under way: give both the time.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::thread stopper([&] { page->stop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release = true;
    stopper.join();
    queued.join();
    blocker.join();
    EXPECT_EQ(failed.load(), 1);
    EXPECT_FALSE(page->invoke([] {}));
}

TEST(ApartmentConcurrency, PostedCallsQueueBehindOthersWithoutWaiting)
{
    auto page = Apartment::create();
    std::vector<int> seen;  // the apartment's thread only
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    ASSERT_TRUE(page->post([&] { std::lock_guard<std::mutex> wait(gate); }));  // occupies the thread
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(page->post([&, i] {
            seen.push_back(i);
            if (i == 0)  // posted on its own thread: runs after the calls already queued
                page->post([&] { seen.push_back(100); });
        }));
    held.unlock();  // every post above returned while the thread was still busy
    page->invoke([] {});
    page->invoke([] {});
    ASSERT_EQ(seen.size(), 51u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(seen[i], i);
    EXPECT_EQ(seen[50], 100);
    page->post([] { throw std::runtime_error("nobody waits for this"); });
    EXPECT_TRUE(page->invoke([] {}));  // a posted call's failure does not end the apartment
    page->stop();
    EXPECT_FALSE(page->post([] {}));
}

// A host ends an apartment from inside one of its calls, even from a call run while the thread
// pumps, and lets go of it there: the thread ends by itself, nothing is left behind.
TEST(ApartmentConcurrency, StoppedAndReleasedFromInsideItsOwnCalls)
{
    for (bool nested : {false, true}) {
        auto page = Apartment::create();
        std::weak_ptr<Apartment> watch = page;
        std::atomic<bool> released{false};
        auto end = [&released, page]() mutable {
            page->stop();
            page.reset();
            released = true;
        };
        if (nested) {
            std::shared_ptr<Apartment> waiter = page;
            page->post([waiter, &released]() mutable {
                Apartment* self = waiter.get();
                waiter.reset();  // the posted `end` below now holds the last reference
                self->pumpUntil([&] { return released.load(); });
            });
        }
        page->post(std::move(end));
        page.reset();
        for (int i = 0; i < 500 && !watch.expired(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(watch.expired()) << (nested ? "nested" : "plain");
        EXPECT_TRUE(released.load());
    }
}
