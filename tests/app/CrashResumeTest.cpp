// A host killed with SIGKILL at random moments while it downloads files and a folder, each time
// resumed in a new host from what the page saved of the events it had read: every file ends
// byte-identical, and no length the page saved is ever ahead of its file on disk.
#include "ZelvornProcess.h"
#include "common/FixtureServer.h"
#include "common/TempFolder.h"
#include "support/JsonText.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <signal.h>
#include <sys/stat.h>

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

int64_t sizeOnDisk(const std::string& path)
{
    struct stat info;
    return path.empty() || ::stat(path.c_str(), &info) != 0 ? 0 : static_cast<int64_t>(info.st_size);
}

// What a page keeps of its tasks: for each, the object it sends again to resume it, updated
// from the events it reads.
class Page {
public:
    void add(Json::Value task) { tasks[task["id"].asInt()].saved = std::move(task); }

    // Settings, every unfinished task, and the start.
    std::string commands(const std::string& downloads) const
    {
        Json::Value init;
        init["name"] = "init";
        init["config"]["Folder"] = downloads;
        init["config"]["ThreadCount"] = 5;
        std::string text = writeCompactJson(init);
        for (const auto& task : tasks)
            if (!task.second.done)
                text += writeCompactJson(task.second.saved);
        return text + "{\"name\":\"start_queue\"}\n";
    }

    void read(const std::string& line)
    {
        Json::Value event;
        if (!parseJson(line, event) || !event.isObject()) {
            ADD_FAILURE() << "not an event: " << line;
            return;
        }
        const std::string name = event["name"].asString();
        const auto found = tasks.find(event.get("id", -1).asInt());
        if (found == tasks.end())
            return;
        Task& task = found->second;
        Json::Value& saved = task.saved;
        if (name == "down_error")
            errors.push_back(line);
        if (name == "down_recv_size" && !saved.isMember("files"))
            saved["lenSvr"] = event["len"];
        if (name == "down_recv_name" && !saved.isMember("files"))
            saved["pathLoc"] = event["pathLoc"];
        if (name == "init_end") {
            saved = event;
            saved["name"] = "add_folder";
        }
        if (name == "down_complete" && (!saved.isMember("files") || event["all"].asBool()))
            task.done = true;
        if (name != "down_process")
            return;
        saved["lenLoc"] = event["lenLoc"];
        if (!saved.isMember("files")) {
            expectOnDisk(saved, line);
            return;
        }
        const Json::ArrayIndex file = event["file"]["id"].asUInt();
        if (file < saved["files"].size()) {
            saved["files"][file]["lenLoc"] = event["file"]["lenLoc"];
            expectOnDisk(saved["files"][file], line);
        }
    }

    bool finished() const
    {
        for (const auto& task : tasks)
            if (!task.second.done)
                return false;
        return true;
    }

    // Every file a saved task names holds at least the bytes the page saved for it.
    void expectAllOnDisk() const
    {
        for (const auto& task : tasks) {
            const Json::Value& saved = task.second.saved;
            if (!saved.isMember("files"))
                expectOnDisk(saved, "task " + std::to_string(task.first));
            for (const Json::Value& file : saved["files"])
                expectOnDisk(file, "folder " + std::to_string(task.first));
        }
    }

    // True when the page has saved a file that is part way through.
    bool partWay() const
    {
        const auto part = [](const Json::Value& file) {
            const int64_t saved = file.get("lenLoc", 0).asInt64();
            return saved > 0 && saved < file.get("lenSvr", 0).asInt64();
        };
        for (const auto& task : tasks) {
            const Json::Value& saved = task.second.saved;
            if (!saved.isMember("files") && part(saved))
                return true;
            for (const Json::Value& file : saved["files"])
                if (part(file))
                    return true;
        }
        return false;
    }

    // The local file of a file task, or of the n-th file of a folder.
    std::string path(int id, int file = -1) const
    {
        const Json::Value& saved = tasks.at(id).saved;
        return (file < 0 ? saved : saved["files"][file])["pathLoc"].asString();
    }

    std::vector<std::string> errors;

private:
    struct Task {
        Json::Value saved;
        bool done = false;
    };

    static void expectOnDisk(const Json::Value& file, const std::string& context)
    {
        const int64_t saved = file.get("lenLoc", 0).asInt64();
        const std::string path = file.get("pathLoc", "").asString();
        EXPECT_LE(saved, sizeOnDisk(path)) << "saved lenLoc is ahead of " << path << ": " << context;
    }

    std::map<int, Task> tasks;
};

Json::Value fileTask(int id, const std::string& url)
{
    Json::Value task;
    task["name"] = "add_file";
    task["id"] = id;
    task["fileUrl"] = url;
    return task;
}

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

    Page page;
    page.add(fileTask(1, server.url("/big.bin")));
    page.add(fileTask(2, server.url("/drip.bin")));
    page.add(fileTask(3, server.url("/small.bin")));
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
