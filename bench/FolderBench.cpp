// Downloads a folder of many small files from nginx on 127.0.0.1 with the folder job
// (FdDownloader, run as the queue runs it) and with `aria2c -j1 -i` and `wget -i`, runs
// alternating, and prints the median wall times and the ratio ours / the faster tool.
// Every run of ours is checked byte for byte; nginx logs each request's connection number, so
// the connections each run opened are counted too.
//
// Usage: bench_folder [runs (5)] [files (1000)] [file size in bytes (16384)]

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
#include <set>
#include <sstream>
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

// The folder task a page would send: files under the server path /srv/share, one URL each.
Json::Value folderTask(const NginxServer& nginx, int files, int64_t size)
{
    Json::Value task;
    task["id"] = 1;
    task["nameLoc"] = "share";
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
    return pool.wait(600 * 1000) && folder->errors == 0 && folder->success == static_cast<int32_t>(folder->files.size());
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
    const Json::Value task = folderTask(nginx, files, size);

    std::printf("%d files of %lld bytes from nginx on 127.0.0.1, %d runs each\n\n", files,
                static_cast<long long>(size), runs);
    std::vector<double> oursWall, aria2Wall, wgetWall;
    for (int run = 0; run <= runs; ++run) {  // run 0 warms caches and is not counted
        const fs::path local = downloads.path() / "share";
        events = 0;
        const Sample a = inProcess([&] { return runOurs(task); });
        if (!sameFiles(site.path(), local, files))
            return 1;
        const std::string oursConnections = connectionsSince(nginx.accessLog(), logOffset);
        fs::remove_all(local);

        const fs::path aria2Dir = downloads.path() / "aria2";
        const Sample b = runTool({"aria2c", "-q", "-j1", "-i", list, "-d", aria2Dir.string(), "--allow-overwrite=true",
                                  "--auto-file-renaming=false", "--file-allocation=none", "--console-log-level=error",
                                  "--summary-interval=0"});
        const std::string aria2Connections = connectionsSince(nginx.accessLog(), logOffset);
        if (!sameFiles(site.path(), aria2Dir, files))
            return 1;
        fs::remove_all(aria2Dir);

        const fs::path wgetDir = downloads.path() / "wget";
        const Sample c = runTool({"wget", "-q", "-i", list, "-P", wgetDir.string()});
        const std::string wgetConnections = connectionsSince(nginx.accessLog(), logOffset);
        if (!sameFiles(site.path(), wgetDir, files))
            return 1;
        fs::remove_all(wgetDir);

        std::printf("%s %d  ours %.3f s (cpu %.3f s, %ld events, %s)\n       aria2c %.3f s (%s)\n       wget %.3f s (%s)\n",
                    run ? "run" : "warm-up", run, a.wall, a.cpu, events.load(), oursConnections.c_str(), b.wall, aria2Connections.c_str(),
                    c.wall, wgetConnections.c_str());
        if (run == 0)
            continue;
        oursWall.push_back(a.wall);
        aria2Wall.push_back(b.wall);
        wgetWall.push_back(c.wall);
    }
    const double ours = median(oursWall), aria2 = median(aria2Wall), wget = median(wgetWall);
    std::printf("\nmedian wall  ours %.3f s   aria2c %.3f s   wget %.3f s\n", ours, aria2, wget);
    std::printf("ratio ours / min(aria2c, wget)  %.2fx (target at most 1.00x)\n", ours / std::min(aria2, wget));
    return 0;
}
