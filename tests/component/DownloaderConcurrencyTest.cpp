#include "JobHarness.h"

#include "common/FixtureServer.h"
#include "common/TempFolder.h"
#include "component/Config.h"
#include "support/Path.h"

#include <gtest/gtest.h>

#include <random>

// Stops that land at any moment of a run (before the request, during the body, while the run
// is ending) on one reused job: every run ends once, a stopped run ends with down_stoped and no
// error, and the saved length always matches the file.
TEST(DownloaderConcurrency, StopsAtAnyMomentLeaveConsistentRuns)
{
    FixtureServer server;
    const std::string body = TempFolder::pattern(2 * 1024 * 1024);
    server.on("/f.bin", FixtureResponse::file(body));
    TempFolder dir;
    Config::instance().filePart = 64 * 1024;
    JobHarness harness;
    auto job = std::make_shared<Downloader>();
    std::mt19937 random(7);
    for (int run = 0; run < 30; ++run) {
        auto task = std::make_shared<DownItem>();
        task->id = run;
        task->fileUrl = server.url("/f.bin");
        task->pathLoc = (dir.path() / ("f" + std::to_string(run))).wstring();
        harness.start(job, task);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        std::thread stopper([&] { job->stop(); });
        stopper.join();
        ASSERT_TRUE(harness.waitDone());
        // A run that completed before the stop arrived ends complete; any other ends stopped.
        if (!harness.waitFor("down_complete", 0)) {
            ASSERT_TRUE(harness.waitFor("down_stoped"));
        }
        const auto events = harness.take();
        EXPECT_TRUE(JobHarness::named(events, "down_error").empty()) << "run " << run;
        EXPECT_EQ(JobHarness::named(events, "down_complete").size() + JobHarness::named(events, "down_stoped").size(),
                  1u);
        EXPECT_EQ(task->lenLoc.load(), fileSize(task->pathLoc)) << "run " << run;
    }
}
