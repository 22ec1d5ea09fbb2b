// Servers that misbehave on purpose or by accident: for each, the events the page gets, and that
// the host neither crashes, hangs nor corrupts a file.
#include "DownloadPageTest.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

using HostilePeerTest = DownloadPageTest;

TEST_F(HostilePeerTest, FloodedOversizedAndLoopingAnswersEndInErrors)
{
    FixtureResponse flood = FixtureResponse::file("body");
    for (int i = 0; i < 20000; ++i)
        flood.header("X-Flood-" + std::to_string(i), "a value to fill the header block");
    server.on("/flood", flood);
    server.on("/huge-line", FixtureResponse::file("body").header("X-Huge", std::string(1024 * 1024, 'h')));
    FixtureResponse loop = FixtureResponse::file("");
    loop.status = 302;
    loop.header("Location", "/loop");
    server.on("/loop", loop);
    page.post(addFile(1, server.url("/flood")));
    page.post(addFile(2, server.url("/huge-line")));
    page.post(addFile(3, server.url("/loop")));
    page.post(addFile(4, server.url("/after"), member("nameCustom", "after.bin")));
    server.on("/after", FixtureResponse::file("still serving"));
    runQueue();

    for (int id : {1, 2, 3}) {
        EXPECT_EQ(last(id, "down_error")["code"].asUInt(), 1u) << shape(id);
        EXPECT_TRUE(last(id, "down_complete").isNull());
    }
    EXPECT_TRUE(endsWith(4, "down_complete"));
    EXPECT_EQ(TempFolder::readFile(dir.path() / "after.bin"), "still serving");
}

TEST_F(HostilePeerTest, ADripOfOneByteASecondStillStopsAtOnce)
{
    FixtureResponse drip = FixtureResponse::file(std::string(100, 'd'));
    drip.drip = std::chrono::milliseconds(1000);
    server.on("/drip", drip);
    page.post(addFile(1, server.url("/drip")));
    page.post(R"({"name":"start_queue"})");
    // Wait for a byte or two on disk, then stop.
    const fs::path file = dir.path() / "drip";
    for (int i = 0; i < 500 && !(fs::exists(file) && fs::file_size(file) > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto asked = std::chrono::steady_clock::now();
    page.post(R"({"name":"stop_file","id":1})");
    ASSERT_TRUE(page.waitFor("down_stoped", 1, 5));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    // What the page was told is on disk, and nothing but the drip's bytes.
    EXPECT_LE(last(1, "down_process")["lenLoc"].asInt64(), int64_t(fs::file_size(file)));
    EXPECT_EQ(TempFolder::readFile(file), std::string(fs::file_size(file), 'd'));
}

TEST_F(HostilePeerTest, AServerThatIgnoresRangesRestartsTheFileWhole)
{
    const std::string body = TempFolder::pattern(70000);
    server.on("/whole", FixtureResponse::file(body));
    const auto local = dir.writeFile("whole.bin", body.substr(0, 30000) + "stale tail the server never sent");
    page.post(
        addFile(1, server.url("/whole"),
                member("pathLoc", local.string()) + member("lenLoc", 30000) + member("lenSvr", int64_t(body.size()))));
    runQueue();
    EXPECT_TRUE(endsWith(1, "down_complete")) << shape(1);
    EXPECT_EQ(TempFolder::readFile(local), body);
    EXPECT_EQ(server.requests().at(0).header("Range"), "bytes=30000-69999");
}

TEST_F(HostilePeerTest, ThousandsOfTasksQueuedAtOnceAllEnd)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const int tasks = 500;  // enough for the sanitizers to see the queue's races, in a tenth of the time
#else
    const int tasks = 2000;
#endif
    server.on("/small", FixtureResponse::file("tiny"));
    init(dir.path(), 5);
    for (int id = 1; id <= tasks; ++id)
        page.post(addFile(id, server.url("/small")));
    runQueue(600);
    int completed = 0;
    for (const auto& event : page.events())
        completed += event["name"].asString() == "down_complete";
    EXPECT_EQ(completed, tasks);
    EXPECT_EQ(server.requests().size(), size_t(tasks));
    // Each took a name of its own beside the others.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), tasks);
}
