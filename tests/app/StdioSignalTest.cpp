// SIGINT ends `zelvorn stdio` in order: the queue is stopped, the running job reports its end,
// then the process exits.
#include "ZelvornProcess.h"
#include "common/FixtureServer.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>

TEST(StdioSignal, InterruptStopsTheQueueAndWaitsForTheJob)
{
    TempFolder work;
    FixtureServer server;
    FixtureResponse stalled = FixtureResponse::file(std::string(100000, 's'));
    stalled.stall = FixtureResponse::Stall::afterHeaders;
    server.on("/stall", stalled);
    ASSERT_TRUE(ZelvornProcess::registerControl(work));

    ZelvornProcess::Options interactive;
    interactive.pipes = true;
    ZelvornProcess host(work, {"stdio"}, interactive);
    ASSERT_TRUE(host.write("{\"name\":\"add_file\",\"id\":4,\"fileUrl\":\"" + server.url("/stall") +
                           "\",\"pathLoc\":\"" + work.file("f.bin") + "\"}\n{\"name\":\"start_queue\"}\n"));
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (seen.find("down_begin") == std::string::npos && std::chrono::steady_clock::now() < deadline &&
           host.readLines(std::chrono::milliseconds(100), seen)) {
    }
    ASSERT_NE(seen.find("down_begin"), std::string::npos) << seen << host.err();

    host.signal(SIGINT);  // standard input is still open: only the signal ends the host
    while (host.readLines(std::chrono::seconds(60), seen)) {
    }
    EXPECT_EQ(host.wait(), 128 + SIGINT) << host.err();
    EXPECT_NE(seen.find("{\"id\":4,\"name\":\"down_stoped\"}"), std::string::npos) << seen;
    EXPECT_NE(seen.find("{\"name\":\"queue_end\"}"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("queue_complete"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("down_error"), std::string::npos) << seen;
}
