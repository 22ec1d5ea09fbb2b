// JobHarness: runs download jobs the way the queue does and records their events.
// Installs itself as the process's event sender; events arrive on the jobs' threads. What the
// sender touches is shared with it, so a job that ends after the harness finds it still there.
#pragma once

#include "component/Downloader.h"
#include "component/TaskMgr.h"
#include "support/EventPool.h"
#include "support/JsonText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class JobHarness {
public:
    JobHarness()
    {
        TaskMgr::instance().setSender(
            [record = record](std::string&& text) {
                Json::Value event;
                EXPECT_TRUE(parseJson(text, event)) << text;
                std::lock_guard<std::mutex> lock(record->mutex);
                record->events.push_back(event);
                record->changed.notify_all();
            },
            TaskMgr::Flush(),
            [record = record] {
                std::lock_guard<std::mutex> lock(record->mutex);
                record->changed.notify_all();
            });
    }

    // Waits until every run's thread has sent its last event; false on a time-out.
    bool waitRunsEnded(int seconds = 30)
    {
        std::unique_lock<std::mutex> lock(record->mutex);
        return record->changed.wait_for(lock, std::chrono::seconds(seconds),
                                        [] { return Downloader::runsInFlight() == 0; });
    }

    // Starts `task` on `job` with a permit of a fresh pool, as the queue does.
    void start(const std::shared_ptr<Downloader>& job, const std::shared_ptr<DownItem>& task)
    {
        pool = std::make_unique<EventPool>();
        pool->release(1);
        pool->wait(Dravik::Threading::kInfinite);
        job->item = task;
        job->doneEvent = pool->popIdle();
        job->start();
    }

    // Waits until the run has set its permit; false on a time-out.
    bool waitDone(int seconds = 30) { return pool->wait(static_cast<uint32_t>(seconds * 1000)); }

    // Runs `task` to its end (and its trailing "down_stoped", when one is due).
    void run(const std::shared_ptr<Downloader>& job, const std::shared_ptr<DownItem>& task)
    {
        start(job, task);
        ASSERT_TRUE(waitDone());
    }

    // Waits for an event of that name; false on a time-out.
    bool waitFor(const std::string& name, int seconds = 30)
    {
        std::unique_lock<std::mutex> lock(record->mutex);
        return record->changed.wait_for(lock, std::chrono::seconds(seconds), [&] {
            for (const auto& event : record->events)
                if (event["name"].asString() == name)
                    return true;
            return false;
        });
    }

    std::vector<Json::Value> take()
    {
        std::lock_guard<std::mutex> lock(record->mutex);
        return std::move(record->events);
    }

    // The event names in order, consecutive "down_process" folded into one.
    static std::string shape(const std::vector<Json::Value>& events)
    {
        std::string out;
        std::string last;
        for (const auto& event : events) {
            const std::string name = event["name"].asString();
            if (name == "down_process" && last == name)
                continue;
            out += (out.empty() ? "" : " ") + name;
            last = name;
        }
        return out;
    }

    static std::vector<Json::Value> named(const std::vector<Json::Value>& events, const std::string& name)
    {
        std::vector<Json::Value> out;
        for (const auto& event : events)
            if (event["name"].asString() == name)
                out.push_back(event);
        return out;
    }

private:
    struct Record {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<Json::Value> events;  // guarded by mutex
    };
    const std::shared_ptr<Record> record = std::make_shared<Record>();
    std::unique_ptr<EventPool> pool;
};
