// Downloads a folder of many small files from nginx on 127.0.0.1 with the folder job
// (FdDownloader, run as the queue runs it, from the task object on) and with `aria2c -j1 -i`
// and `wget -i`, runs alternating in a rotating order, and prints the median wall times and the
// ratio ours / the faster tool. Every run's files are checked byte for byte; nginx logs each
// request's connection number, so the connections each run opened are counted too.
//
// Usage: bench_folder [runs (5)] [files (1000)] [file size in bytes (16384)]
// Files go below $TMPDIR (or /tmp). On ext4 without a journal, creating a file right after many
// were deleted scans past their inodes (for a minute or more), so no run's output is deleted
// before the end and a second invocation should not follow at once; TMPDIR=/dev/shm measures the
// download work alone.

#include "Measure.h"
#include "common/NginxServer.h"
#include "common/TempFolder.h"
#include "component/Config.h"
#include "component/FdDownItem.h"
#include "component/FdDownloader.h"
#include "component/TaskMgr.h"
#include "support/EventPool.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::atomic<long> events{0};

std::string fileName(int index)
{
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.bin", index);
    return name;
}

// The folder task a page would send: files under the server path /srv/share, one URL each,
// to be laid out as `name` under the download folder.
Json::Value folderTask(const NginxServer& nginx, int files, int64_t size, const std::string& name)
{
    Json::Value task;
    task["id"] = 1;
    task["nameLoc"] = name;
    task["pathLoc"] = "/srv/share";
    task["lenSvr"] = Json::Int64(files * size);
    for (int i = 0; i < files; ++i) {
        Json::Value file;
        file["pathLoc"] = "/srv/share/" + fileName(i);
        file["fileUrl"] = nginx.url("/" + fileName(i));
        file["lenSvr"] = Json::Int64(size);
        task["files"].append(file);
    }
    return task;
}

// One run of a fresh job over the whole folder, from the task object to the job's permit.
bool runOurs(const Json::Value& task)
{
    auto folder = std::make_shared<FdDownItem>();
    folder->fromJson(task);
    auto job = std::make_shared<FdDownloader>();
    EventPool pool;
    pool.release(1);
    pool.wait(Dravik::Threading::kInfinite);
    job->item = folder;
    job->doneEvent = pool.popIdle();
    job->start();
    return pool.wait(600 * 1000) && folder->errors == 0 &&
           folder->success == static_cast<int32_t>(folder->files.size());
}

// Every file present with the right size and the right bytes (the tools' output too, so that
// all three are known to have done the same work).
bool sameFiles(const fs::path& site, const fs::path& local, int files)
{
    for (int i = 0; i < files; ++i)
        if (TempFolder::readFile(local / fileName(i)) != TempFolder::readFile(site / fileName(i))) {
            std::fprintf(stderr, "%s differs\n", fileName(i).c_str());
            return false;
        }
    return true;
}

// Requests and distinct connections logged since `offset` bytes of the access log; moves
// `offset` to the end.
std::string connectionsSince(const std::string& log, std::streamoff& offset)
{
    std::ifstream in(log);
    in.seekg(offset);
    std::set<long> connections;
    long requests = 0;
    for (std::string line; std::getline(in, line); ++requests)
        connections.insert(std::atol(line.c_str()));
    in.clear();
    offset = in.tellg();
    return std::to_string(requests) + " requests on " + std::to_string(connections.size()) + " connections";
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const int files = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int64_t size = argc > 3 ? std::atoll(argv[3]) : 16384;

    // Each file is its own slice of one pattern, so that files swapped or shifted show.
    TempFolder site, downloads;
    const std::string bytes = TempFolder::pattern(static_cast<size_t>(files * size));
    for (int i = 0; i < files; ++i)
        site.writeFile(fileName(i), bytes.substr(static_cast<size_t>(i * size), static_cast<size_t>(size)));
    NginxServer nginx(site.path(), true);
    std::streamoff logOffset = 0;

    const std::string list = downloads.file("urls.txt");
    {
        std::ofstream out(list);
        for (int i = 0; i < files; ++i)
            out << nginx.url("/" + fileName(i)) << "\n";
    }
    TaskMgr::instance().setSender([](Json::Value&) { ++events; });
    Config::instance().setFolder(downloads.path().wstring());

    struct Contender {
        std::string name;
        std::function<Sample(const fs::path& dir)> run;  // downloads the folder into `dir`, a new one
        std::vector<double> walls;
    };
    std::vector<Contender> contenders = {
        {"ours",
         [&](const fs::path& dir) {
             const Json::Value task = folderTask(nginx, files, size, dir.filename().string());
             return inProcess([&] { return runOurs(task); });
         },
         {}},
        {"aria2c",
         [&](const fs::path& dir) {
             return runTool({"aria2c", "-q", "-j1", "-i", list, "-d", dir.string(), "--allow-overwrite=true",
                             "--auto-file-renaming=false", "--file-allocation=none", "--console-log-level=error",
                             "--summary-interval=0"});
         },
         {}},
        {"wget", [&](const fs::path& dir) { return runTool({"wget", "-q", "-i", list, "-P", dir.string()}); }, {}},
    };

    std::printf("%d files of %lld bytes from nginx on 127.0.0.1, %d runs each, the order rotating\n", files,
                static_cast<long long>(size), runs);
    for (int run = 0; run <= runs; ++run) {  // run 0 warms the caches and is not counted
        std::printf("\n%s %d", run ? "run" : "warm-up", run);
        for (size_t k = 0; k < contenders.size(); ++k) {
            Contender& contender = contenders[(run + k) % contenders.size()];
            // Outputs stay until the end: deleting them would make the next run's file creations
            // pay for it (see above).
            const fs::path dir = downloads.path() / (contender.name + std::to_string(run));
            events = 0;
            const Sample sample = contender.run(dir);
            if (!sameFiles(site.path(), dir, files))
                return 1;
            std::printf("  %s %.3f s (%s", contender.name.c_str(), sample.wall,
                        connectionsSince(nginx.accessLog(), logOffset).c_str());
            if (&contender == &contenders[0])
                std::printf(", %ld events, cpu %.3f s", events.load(), sample.cpu);
            std::printf(")");
            if (run > 0)
                contender.walls.push_back(sample.wall);
        }
    }
    const double ours = median(contenders[0].walls), aria2 = median(contenders[1].walls),
                 wget = median(contenders[2].walls);
    std::printf("\n\nmedian wall  ours %.3f s   aria2c %.3f s   wget %.3f s\n", ours, aria2, wget);
    std::printf("ratio ours / min(aria2c, wget)  %.2fx (target at most 1.00x)\n", ours / std::min(aria2, wget));
    return 0;
}
