// A host killed with SIGKILL at random moments while it downloads files and a folder, each time
// resumed in a new host from what the page saved of the events it had read: every file ends
// byte-identical, and no length the page saved is ever ahead of its file on disk.
#include "SavedTasks.h"
#include "ZelvornProcess.h"
#include "common/FixtureServer.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kKills = 50;  // in a row, before one host may run to the end

unsigned testSeed()
{
    const char* given = std::getenv("ZELVORN_TEST_SEED");
    return given ? static_cast<unsigned>(std::strtoul(given, nullptr, 10)) : std::random_device()();
}

}  // namespace

TEST(CrashResume, HostsKilledAtRandomResumeUntilEveryFileIsWhole)
{
    const unsigned seed = testSeed();
    std::cout << "seed " << seed << " (ZELVORN_TEST_SEED repeats it)\n";
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto between = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };

    TempFolder work;
    ASSERT_TRUE(ZelvornProcess::registerControl(work));
    const std::string downloads = work.file("downloads");

    // Fast files whose answers halt part way, and files that drip a byte per millisecond, so
    // that kills land before, inside and between transfers.
    FixtureServer server;
    const auto serve = [&](const std::string& path, const std::string& body, bool drip) {
        const auto ranged = FixtureServer::rangedFile(body);
        server.on(path, [ranged, drip](const FixtureRequest& request) {
            FixtureResponse response = ranged(request);
            if (drip) {
                response.drip = milliseconds(1);
            } else {
                response.pauseAfter = response.body.size() / 3;
                response.paused = [] { std::this_thread::sleep_for(milliseconds(40)); };
            }
            return response;
        });
        return body;
    };
    const std::map<int, std::string> files{{1, serve("/big.bin", TempFolder::pattern(3 << 20), false)},
                                           {2, serve("/drip.bin", TempFolder::pattern(3000), true)},
                                           {3, serve("/small.bin", TempFolder::pattern(20000), false)}};
    const std::vector<std::string> folderFiles{serve("/docs/a.txt", TempFolder::pattern(2500), true),
                                               serve("/docs/sub/b.bin", TempFolder::pattern(400000), false),
                                               serve("/docs/empty.txt", "", false)};

    SavedTasks page;
    page.add(SavedTasks::fileTask(1, server.url("/big.bin")));
    page.add(SavedTasks::fileTask(2, server.url("/drip.bin")));
    page.add(SavedTasks::fileTask(3, server.url("/small.bin")));
    Json::Value folder;
    folder["name"] = "add_folder";
    folder["id"] = 4;
    folder["nameLoc"] = "docs";
    folder["pathLoc"] = "/share/docs";
    int64_t folderLength = 0;
    for (const char* name : {"a.txt", "sub/b.bin", "empty.txt"}) {
        Json::Value file;
        file["pathLoc"] = std::string("/share/docs/") + name;
        file["fileUrl"] = server.url(std::string("/docs/") + name);
        file["lenSvr"] = Json::Int64(folderFiles[folder["files"].size()].size());
        folderLength += file["lenSvr"].asInt64();
        folder["files"].append(file);
    }
    folder["lenSvr"] = Json::Int64(folderLength);
    page.add(folder);

    // Reads what arrives within `wait` and hands it to the page as it comes, so that each saved
    // length is checked against the disk at the moment it is read; false once the output ended.
    size_t events = 0;
    const auto pump = [&](ZelvornProcess& host, milliseconds wait) {
        std::string lines;
        const bool open = host.readLines(wait, lines);
        std::istringstream split(lines);
        for (std::string line; std::getline(split, line); ++events)
            page.read(line);
        return open;
    };
    // `zelvorn stdio` given the page's commands on a standard input left open.
    ZelvornProcess::Options interactive;
    interactive.pipes = true;

    const auto start = Clock::now();
    int partWay = 0;  // kills after which the page holds a file part way through
    for (int kill = 1; kill <= kKills; ++kill) {
        ZelvornProcess host(work, {"stdio"}, interactive);
        host.write(page.commands(downloads));  // fails when the host died early: what it wrote is still read
        // A moment after the start (in the host's set-up or its first requests), or a few
        // milliseconds after a number of events (in the middle of the transfers).
        const bool early = between(0, 3) == 0;
        const auto moment = Clock::now() + milliseconds(early ? between(0, 150) : 20000);
        const size_t wanted = early ? SIZE_MAX : static_cast<size_t>(between(1, 60));
        events = 0;
        while (Clock::now() < moment && events < wanted && pump(host, milliseconds(5))) {
        }
        if (!early)
            std::this_thread::sleep_for(milliseconds(between(0, 15)));
        host.signal(SIGKILL);
        host.wait();
        ASSERT_EQ(host.killedBy(), SIGKILL) << "kill " << kill << ": the host ended by itself: " << host.err();
        while (pump(host, milliseconds(1000))) {
        }
        page.expectAllOnDisk();
        ASSERT_FALSE(HasFailure()) << "after kill " << kill;
        partWay += page.partWay();
    }
    std::cout << kKills << " kills in " << std::chrono::duration_cast<milliseconds>(Clock::now() - start).count()
              << " ms, " << partWay << " of them with a file part way\n";
    // The dripping files alone take more events than the kills let through: most resumes
    // start inside a file.
    EXPECT_GE(partWay, kKills / 2);

    // The last host runs to the end of its input and of the queue.
    ZelvornProcess last(work, {"stdio"}, interactive);
    last.write(page.commands(downloads));
    last.closeInput();
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (Clock::now() < deadline && pump(last, milliseconds(100))) {
    }
    ASSERT_LT(Clock::now(), deadline) << "the last host did not end";
    EXPECT_EQ(last.wait(), 0) << last.err();

    EXPECT_TRUE(page.finished());
    for (const auto& error : page.errors)
        ADD_FAILURE() << error;
    for (const auto& file : files)
        EXPECT_TRUE(TempFolder::readFile(page.path(file.first)) == file.second) << page.path(file.first);
    for (size_t n = 0; n < folderFiles.size(); ++n) {
        const std::string path = page.path(4, static_cast<int>(n));
        EXPECT_TRUE(TempFolder::readFile(path) == folderFiles[n]) << path;
    }
}
