#include "PageHarness.h"

#include "component/TaskMgr.h"
#include "control/EventQueue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

namespace {

Json::Value progressEvent(int thread, int seq)
{
    Json::Value event;
    event["name"] = "down_process";
    event["id"] = thread;
    event["seq"] = seq;
    return event;
}

// Every (id, seq) stream must arrive complete and in order.
void expectPerThreadOrder(const std::vector<Json::Value>& events, const std::map<int, int>& expectedCounts)
{
    std::map<int, int> next;
    for (const auto& event : events) {
        if (event["name"].asString() != "down_process")
            continue;
        const int id = event["id"].asInt();
        EXPECT_EQ(event["seq"].asInt(), next[id]) << "thread " << id;
        next[id] = event["seq"].asInt() + 1;
    }
    for (const auto& [id, count] : expectedCounts)
        EXPECT_EQ(next[id], count) << "thread " << id;
}

}  // namespace

// Eight workers send 10,000 events each while the page's thread posts commands, sends events
// as handlers do, and posts again from inside its callback.
TEST(ControlConcurrency, ManySendersOnePageNoDeadlockNoOverlap)
{
    constexpr int kThreads = 8, kEvents = 10000, kPageSends = 300;
    PageHarness page;
    std::atomic<int> nested{0};
    page.setOnEvent([&](const Json::Value& event) {
        // The page posts a command from inside its callback; its handler sends at once.
        if (event["name"].asString() == "down_process" && event["seq"].asInt() % 1000 == 0) {
            ++nested;
            page.control->postMessage(LR"({"name":"init","config":{"ThreadCount":1}})");
        }
    });

    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < kEvents; ++i) {
                Json::Value event = progressEvent(t, i);
                TaskMgr::instance().sendEvent(event);
            }
        });
    for (int i = 0; i < kPageSends; ++i) {
        page.sendFromPage(progressEvent(100, i));
        if (i % 10 == 0)
            page.post(R"({"name":"init","config":{"Cookie":"c"}})");
    }
    for (auto& w : workers)
        w.join();
    page.flush();

    const auto events = page.events();
    const int posted = kPageSends / 10;
    EXPECT_EQ(events.size(), size_t(kThreads * kEvents + kPageSends + posted + nested.load()));
    EXPECT_EQ(nested.load(), kThreads * kEvents / 1000 + 1);  // page seq 0 too
    EXPECT_FALSE(page.offThread.load());
    EXPECT_FALSE(page.overlapped.load());
    std::map<int, int> counts{{100, kPageSends}};
    for (int t = 0; t < kThreads; ++t)
        counts[t] = kEvents;
    expectPerThreadOrder(events, counts);
}

// The page's thread sends while a worker's event waits for the page's thread: the page gets the
// worker's event first, as it was sent first, and nothing waits on anything.
TEST(ControlConcurrency, PageSendWhileAWorkerWaitsForThePage)
{
    PageHarness page;
    std::thread worker;
    page.apartment->invoke([&] {
        worker = std::thread([&] {
            Json::Value event = progressEvent(1, 0);
            TaskMgr::instance().sendEvent(event);  // queued: the page's thread is busy
        });
        // The page's thread is busy here, so the worker's event waits for it.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(page.texts().empty());
        Json::Value own = progressEvent(2, 0);
        page.control->sendText(writeCompactJson(own));
    });
    worker.join();
    const auto events = page.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["id"].asInt(), 1);  // sent first
    EXPECT_EQ(events[1]["id"].asInt(), 2);
}

// A second control replaces the event sender while workers send: nothing crashes and every
// event reaches one of the two pages.
TEST(ControlConcurrency, SenderReplacedWhileThreadsSend)
{
    constexpr int kThreads = 4, kEvents = 3000;
    PageHarness first;
    std::vector<std::thread> workers;
    std::atomic<int> started{0};
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            ++started;
            for (int i = 0; i < kEvents; ++i) {
                Json::Value event = progressEvent(t, i);
                TaskMgr::instance().sendEvent(event);
            }
        });
    while (started < kThreads)
        std::this_thread::yield();
    PageHarness second;
    for (auto& w : workers)
        w.join();
    first.flush();
    second.flush();
    EXPECT_EQ(first.texts().size() + second.texts().size(), size_t(kThreads * kEvents));
    EXPECT_FALSE(second.texts().empty());
}

// Host threads of a pool call into one page at once while workers' events flow: the page's
// thread delivers the workers' events between the host threads' commands, whose handlers send
// too. Every call must come back and every event arrive once.
TEST(ControlConcurrency, SeveralHostThreadsCallInWhileEventsFlow)
{
    constexpr int kWorkers = 3, kEvents = 3000, kHosts = 4, kCalls = 150;
    PageHarness page;
    std::atomic<int> hostsDone{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kWorkers; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEvents; ++i) {
                Json::Value event = progressEvent(t, i);
                TaskMgr::instance().sendEvent(event);
            }
        });
    for (int h = 0; h < kHosts; ++h)
        threads.emplace_back([&] {
            for (int i = 0; i < kCalls; ++i)
                page.post(R"({"name":"init","config":{"ThreadCount":1}})");  // answers load_complete
            ++hostsDone;
        });
    // A deadlock leaves the threads blocked for good: report it instead of hanging the run.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!page.waitFor("load_complete", kHosts * kCalls, 1) || hostsDone < kHosts) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "deadlock: %d of %d host threads returned\n", hostsDone.load(), kHosts);
            std::abort();
        }
    }
    for (auto& thread : threads)
        thread.join();
    page.flush();
    const auto events = page.events();
    EXPECT_EQ(events.size(), size_t(kWorkers * kEvents + kHosts * kCalls));
    EXPECT_FALSE(page.overlapped.load());
    std::map<int, int> counts;
    for (int t = 0; t < kWorkers; ++t)
        counts[t] = kEvents;
    expectPerThreadOrder(events, counts);
}

// Pages open and unload one after another while workers send: each event reaches the page
// that is open or is dropped, and no unloaded page is ever called.
TEST(ControlConcurrency, PagesComeAndGoWhileWorkersSend)
{
    constexpr int kWorkers = 3, kPages = 40;
    std::atomic<bool> done{false};
    std::atomic<int> afterUnload{0};
    std::vector<std::thread> workers;
    // Started once the first control has installed the event sender: before it, sending throws.
    auto startWorkers = [&] {
        for (int t = 0; t < kWorkers; ++t)
            workers.emplace_back([&, t] {
                for (int i = 0; !done; ++i) {
                    Json::Value event = progressEvent(t, i);
                    TaskMgr::instance().sendEvent(event);
                }
            });
    };
    for (int p = 0; p < kPages; ++p) {
        auto apartment = Apartment::create();
        auto unloaded = std::make_shared<std::atomic<bool>>(false);
        auto received = std::make_shared<std::atomic<int>>(0);
        ComPtr<CDownloaderPartition> control;
        apartment->invoke([&] {
            CDownloaderPartition* created = nullptr;
            ASSERT_EQ(CDownloaderPartition::create(&created), S_OK);
            control = ComPtr<CDownloaderPartition>::adopt(created);
            control->put_recvMessage(ScriptFunction::create([&afterUnload, unloaded, received](const std::wstring&) {
                                         if (*unloaded)
                                             ++afterUnload;
                                         ++*received;
                                     }).get());
        });
        if (workers.empty())
            startWorkers();
        while (*received < 20)
            std::this_thread::yield();
        apartment->post([control, unloaded, apartment]() mutable {
            control->Close();
            *unloaded = true;
            control = ComPtr<CDownloaderPartition>();
            apartment->stop();
        });
        control = ComPtr<CDownloaderPartition>();
    }
    PageHarness last;
    EXPECT_TRUE(last.waitFor("down_process", 100));
    done = true;
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(afterUnload.load(), 0);
}

// A worker goes on while the page's thread is busy, up to the bound of waiting events, and then
// waits for the page: no event is lost, none reordered, and memory stays bounded.
TEST(ControlConcurrency, AWorkerRunsAheadOfABusyPageOnlyToTheBound)
{
    constexpr int kEvents = static_cast<int>(EventQueue::kMaxEvents) + 100;
    PageHarness page;
    std::atomic<int> sent{0};
    std::atomic<bool> release{false};
    std::thread worker;
    page.apartment->post([&] {
        while (!release)  // the page's thread is busy with something else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    worker = std::thread([&] {
        for (int i = 0; i < kEvents; ++i) {
            Json::Value event = progressEvent(1, i);
            TaskMgr::instance().sendEvent(event);
            ++sent;
        }
    });
    while (sent < static_cast<int>(EventQueue::kMaxEvents))
        std::this_thread::yield();
    // No condition tells that the worker now waits: give it the time to run past the bound.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sent.load(), static_cast<int>(EventQueue::kMaxEvents));
    EXPECT_TRUE(page.texts().empty());
    release = true;
    worker.join();
    page.flush();
    expectPerThreadOrder(page.events(), {{1, kEvents}});
}
