// A page for tests: a control created in its own apartment, with a callback that records every
// event text and checks that deliveries arrive on the page's thread, one at a time.
#pragma once

#include "control/CDownloaderPartition.h"
#include "platform/Apartment.h"
#include "support/JsonText.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PageHarness {
public:
    PageHarness()
    {
        apartment->invoke([this] {
            pageThread = std::this_thread::get_id();
            CDownloaderPartition* created = nullptr;
            EXPECT_EQ(CDownloaderPartition::create(&created), S_OK);
            control = ComPtr<CDownloaderPartition>::adopt(created);
            callback = ScriptFunction::create([this](const std::wstring& text) { record(text); });
            control->put_recvMessage(callback.get());
        });
    }

    void post(const std::string& utf8)
    {
        apartment->invoke([&] { control->postMessage(fromUtf8(utf8)); });
    }

    // Sends an event the way a command handler does: on the page's thread.
    void sendFromPage(Json::Value event)
    {
        apartment->invoke([&] { control->sendText(writeCompactJson(event)); });
    }

    // Returns once every event sent so far has been delivered here.
    void flush() { control->flushEvents(); }

    // Waits until no queue runs, no job still sends and every event has been delivered here, as
    // the control tells it; false on a time-out.
    bool waitIdle(int seconds = 60)
    {
        auto idle = std::make_shared<std::promise<void>>();
        auto told = idle->get_future();
        apartment->invoke([&] { EXPECT_EQ(control->AdviseIdle([idle] { idle->set_value(); }), S_OK); });
        return told.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
    }

    // Waits until `count` events named `name` have arrived; false on a time-out.
    bool waitFor(const std::string& name, size_t count = 1, int seconds = 30)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(seconds), [&] { return counts[name] >= count; });
    }

    // Forgets the events received so far.
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        received.clear();
        counts.clear();
    }

    std::vector<std::string> texts()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }

    std::vector<Json::Value> events()
    {
        std::vector<Json::Value> out;
        for (const auto& text : texts()) {
            Json::Value value;
            EXPECT_TRUE(parseJson(text, value)) << text;
            out.push_back(value);
        }
        return out;
    }

    // Stops deliveries first: a late event must not meet a half-destroyed harness.
    ~PageHarness()
    {
        apartment->invoke([this] { control->put_recvMessage(nullptr); });
    }

    // Runs inside the callback, on the page's thread, for every event (after it is recorded).
    void setOnEvent(std::function<void(const Json::Value& event)> handler)
    {
        apartment->invoke([&] { onEvent = std::move(handler); });
    }

    std::shared_ptr<Apartment> apartment = Apartment::create();
    ComPtr<CDownloaderPartition> control;
    ComPtr<ScriptFunction> callback;
    std::atomic<bool> offThread{false};   // a delivery ran on another thread
    std::atomic<bool> overlapped{false};  // two deliveries ran at once (nesting excluded)

private:
    void record(const std::wstring& text)
    {
        if (std::this_thread::get_id() != pageThread)
            offThread = true;
        if (depth == 0 && inside.fetch_add(1) != 0)
            overlapped = true;
        ++depth;
        struct Leave {  // also when onEvent throws, as a page script may
            PageHarness& page;
            ~Leave()
            {
                if (--page.depth == 0)
                    --page.inside;
            }
        } leave{*this};
        const std::string utf8 = toUtf8(text);
        {
            std::lock_guard<std::mutex> lock(mutex);
            received.push_back(utf8);
            ++counts[nameOf(utf8)];
            arrived.notify_all();
        }
        if (onEvent) {
            Json::Value value;
            parseJson(utf8, value);
            onEvent(value);
        }
    }

    // The "name" of an event text, read without parsing it: the writer puts it as "name":"...".
    static std::string nameOf(const std::string& text)
    {
        static const std::string key = "\"name\":\"";
        const size_t at = text.find(key);
        if (at == std::string::npos)
            return std::string();
        const size_t from = at + key.size();
        return text.substr(from, text.find('"', from) - from);
    }

    std::function<void(const Json::Value& event)> onEvent;  // page's thread only
    std::thread::id pageThread;
    int depth = 0;  // page's thread only: nested deliveries
    std::atomic<int> inside{0};
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::string> received;     // guarded by mutex
    std::map<std::string, size_t> counts;  // guarded by mutex: events received per name
};
