// A download killed with SIGKILL resumes in a new process from the last offset it reported and
// ends byte-identical: the offset a page saved is never ahead of the file on disk.
#include "JobHarness.h"

#include "common/NginxServer.h"
#include "common/TempFolder.h"
#include "component/Config.h"
#include "support/JsonText.h"
#include "support/Path.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace {

constexpr size_t kLine = 4096;  // padded report lines keep the pipe to a few blocks of lead

}  // namespace

// The child half: runs only when the parent test starts this binary with the variables set.
// Every "down_process" is written as one padded line, so the child blocks on a full pipe until
// the parent has read its reports.
TEST(DownloaderKillChild, DownloadAndReport)
{
    const char* url = std::getenv("ZV_KILL_URL");
    const char* path = std::getenv("ZV_KILL_PATH");
    if (!url || !path)
        GTEST_SKIP() << "started by DownloaderKill only";
    JobHarness harness;  // runs the job; its recording sender is replaced by the reports below
    TaskMgr::instance().setSender([](std::string&& text) {
        Json::Value event;
        parseJson(text, event);
        if (event["name"].asString() != "down_process")
            return;
        std::string line = "lenLoc " + std::to_string(event["lenLoc"].asInt64());
        line.resize(kLine - 1, ' ');
        line += '\n';
        fwrite(line.data(), 1, line.size(), stdout);
        fflush(stdout);
    });
    auto task = std::make_shared<DownItem>();
    task->fileUrl = url;
    task->pathLoc = fromUtf8(path);
    auto job = std::make_shared<Downloader>();
    harness.run(job, task);
}

TEST(DownloaderKill, KilledMidTransferResumesByteIdentical)
{
    TempFolder site, local;
    const std::string body = TempFolder::pattern(64 * 1024 * 1024 + 123);
    site.writeFile("large.bin", body);
    NginxServer nginx(site.path().string());
    const std::string target = (local.path() / "large.bin").string();

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string urlVar = "ZV_KILL_URL=" + nginx.url("/large.bin");
    const std::string pathVar = "ZV_KILL_PATH=" + target;
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        env.push_back(*e);
    env.push_back(const_cast<char*>(urlVar.c_str()));
    env.push_back(const_cast<char*>(pathVar.c_str()));
    env.push_back(nullptr);
    char filter[] = "--gtest_filter=DownloaderKillChild.DownloadAndReport";
    char self[] = "/proc/self/exe";
    char* argv[] = {self, filter, nullptr};
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, "/proc/self/exe", &actions, nullptr, argv, env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    // Read reports until the child is well into the file, then kill it without warning.
    FILE* reports = fdopen(out[0], "r");
    int64_t saved = 0;
    char line[kLine + 1];
    while (saved < 8 * 1024 * 1024 && fgets(line, sizeof line, reports)) {
        long long value = 0;
        if (std::sscanf(line, "lenLoc %lld", &value) == 1)
            saved = value;
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    fclose(reports);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status) << ", saved " << saved;
    ASSERT_GE(saved, 8 * 1024 * 1024);
    ASSERT_LT(saved, int64_t(body.size()));
    const int64_t onDisk = fileSize(fromUtf8(target));
    EXPECT_GE(onDisk, saved);  // nothing reported that the file did not hold

    // A new process (this one) resumes from what the page saved.
    Config::instance().filePart = 0x100000;
    JobHarness harness;
    auto task = std::make_shared<DownItem>();
    task->fileUrl = nginx.url("/large.bin");
    task->pathLoc = fromUtf8(target);
    task->lenLoc = saved;
    task->lenSvr = int64_t(body.size());
    auto job = std::make_shared<Downloader>();
    harness.run(job, task);
    const auto events = harness.take();
    EXPECT_EQ(JobHarness::named(events, "down_complete").size(), 1u);
    for (const auto& event : JobHarness::named(events, "down_process"))
        EXPECT_GE(event["lenLoc"].asInt64(), saved);  // resumed, not restarted
    EXPECT_TRUE(TempFolder::readFile(target) == body);
}
