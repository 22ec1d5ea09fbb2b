// DownloadPageTest: a page that drives the control with download commands against the fixture
// server, and reads back each task's events. Lives on the test's thread; the control lives in
// the page harness's apartment.
#pragma once

#include "PageHarness.h"

#include "common/FixtureServer.h"
#include "common/TempFolder.h"
#include "component/Config.h"
#include "component/TaskMgr.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

// A JSON string literal of `text`.
inline std::string quoted(const std::string& text)
{
    std::string json = writeCompactJson(Json::Value(text));
    json.pop_back();  // the line feed
    return json;
}

// An "add_file" command: `members` are further JSON members, each with its leading comma.
inline std::string addFile(int id, const std::string& url, const std::string& members = "")
{
    return R"({"name":"add_file","id":)" + std::to_string(id) + R"(,"fileUrl":)" + quoted(url) + members + "}";
}

inline std::string member(const std::string& name, const std::string& text)
{
    return "," + quoted(name) + ":" + quoted(text);
}

inline std::string member(const std::string& name, int64_t number)
{
    return "," + quoted(name) + ":" + std::to_string(number);
}

class DownloadPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Config::instance().stallSeconds = 10;
        init(dir.path(), 1);
    }
    void TearDown() override { Config::instance().stallSeconds = 60; }

    void init(const std::filesystem::path& folder, int threads)
    {
        page.post(R"({"name":"init","config":{"Folder":)" + quoted(folder.string()) + R"(,"ThreadCount":)" +
                  std::to_string(threads) + "}}");
        page.clear();
    }

    // Starts the queue and waits until it has ended and every job has sent its last event.
    void runQueue(int seconds = 60)
    {
        page.post(R"({"name":"start_queue"})");
        ASSERT_TRUE(page.waitFor("queue_end", 1, seconds));
        ASSERT_TRUE(page.waitIdle());
    }

    std::vector<Json::Value> of(int id)
    {
        std::vector<Json::Value> out;
        for (const auto& event : page.events())
            if (event.isMember("id") && event["id"].asInt() == id)
                out.push_back(event);
        return out;
    }

    // The event names of a task in order, runs of "down_process" folded into one.
    std::string shape(int id)
    {
        std::string out;
        for (const auto& event : of(id)) {
            const std::string name = event["name"].asString();
            if (name == "down_process" && out.size() >= name.size() &&
                out.compare(out.size() - name.size(), name.size(), name) == 0)
                continue;
            out += (out.empty() ? "" : " ") + name;
        }
        return out;
    }

    // The last event of that name of a task; null when there is none.
    Json::Value last(int id, const std::string& name)
    {
        Json::Value found;
        for (const auto& event : of(id))
            if (event["name"].asString() == name)
                found = event;
        return found;
    }

    bool endsWith(int id, const std::string& tail)
    {
        const std::string all = shape(id);
        return all.size() >= tail.size() && all.compare(all.size() - tail.size(), tail.size(), tail) == 0;
    }

    TempFolder dir;
    FixtureServer server;
    PageHarness page;
};
