#include "JobHarness.h"

#include "common/FixtureServer.h"
#include "common/NginxServer.h"
#include "common/TempFolder.h"
#include "component/Config.h"
#include "component/FdDownItem.h"
#include "component/FdDownloader.h"
#include "support/JsonText.h"
#include "support/Path.h"

#include <gtest/gtest.h>

namespace {

class FdDownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Config::instance().setFolder(downloads.path().wstring());
        Config::instance().filePart = 0x100000;
        Config::instance().stallSeconds = 10;
    }

    std::shared_ptr<FdDownItem> folderTask(const Json::Value& task)
    {
        auto folder = std::make_shared<FdDownItem>();
        folder->fromJson(task);
        folder->layOutIfNew();
        harness.take();  // init_end
        return folder;
    }

    static Json::Value file(const std::string& serverPath, const std::string& url, int64_t size)
    {
        Json::Value f;
        f["pathLoc"] = serverPath;
        f["fileUrl"] = url;
        f["lenSvr"] = Json::Int64(size);
        return f;
    }

    static std::vector<Json::Value> fileEvents(const std::vector<Json::Value>& events, const std::string& name)
    {
        std::vector<Json::Value> out;
        for (const auto& event : JobHarness::named(events, name))
            if (event.isMember("file"))
                out.push_back(event);
        return out;
    }

    TempFolder downloads;
    JobHarness harness;
    std::shared_ptr<FdDownloader> job = std::make_shared<FdDownloader>();
};

}  // namespace

TEST_F(FdDownloaderTest, NewFolderFromWindowsPathsBecomesARealTree)
{
    TempFolder site;
    const std::string a = TempFolder::pattern(300000), b = TempFolder::pattern(1234), c = TempFolder::pattern(70000);
    site.writeFile("a.jpg", a);
    site.writeFile("b.txt", b);
    site.writeFile("c.bin", c);
    NginxServer nginx(site.path());

    Json::Value task;
    task["id"] = 21;
    task["nameLoc"] = "相册";
    task["pathLoc"] = "E:\\share\\album";
    task["lenSvr"] = Json::Int64(a.size() + b.size() + c.size());
    task["files"].append(file("E:\\share\\album\\2019\\a.jpg", nginx.url("/a.jpg"), a.size()));
    task["files"].append(file("E:\\share\\album\\empty.txt", "", 0));
    task["files"].append(file("E:\\share\\album\\2019\\deep\\b.txt", nginx.url("/b.txt"), b.size()));
    task["files"].append(file("E:\\share\\album\\c.bin", nginx.url("/c.bin"), c.size()));
    auto folder = folderTask(task);
    harness.run(job, folder);
    const auto events = harness.take();

    const auto root = downloads.path() / "相册";
    EXPECT_EQ(TempFolder::readFile(root / "2019" / "a.jpg"), a);
    EXPECT_EQ(TempFolder::readFile(root / "2019" / "deep" / "b.txt"), b);
    EXPECT_EQ(TempFolder::readFile(root / "c.bin"), c);
    EXPECT_TRUE(std::filesystem::exists(root / "empty.txt"));
    EXPECT_EQ(std::filesystem::file_size(root / "empty.txt"), 0u);

    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front()["name"].asString(), "down_begin");
    EXPECT_TRUE(events.front()["folder"].asBool());
    EXPECT_EQ(events.front()["pathLoc"].asString(), root.string());
    for (const auto& event : events)
        EXPECT_EQ(event["id"].asInt(), 21);
    const auto completes = fileEvents(events, "down_complete");
    ASSERT_EQ(completes.size(), 4u);
    std::vector<int> ids, successes;
    for (const auto& event : completes) {
        ids.push_back(event["file"]["id"].asInt());
        successes.push_back(event["success"].asInt());
        EXPECT_FALSE(event["all"].asBool());
    }
    EXPECT_EQ(ids, (std::vector<int>{0, 1, 2, 3}));
    // A transfer counts before its event, an empty file after it.
    EXPECT_EQ(successes, (std::vector<int>{1, 1, 3, 4}));
    EXPECT_EQ(events.back()["name"].asString(), "down_complete");
    EXPECT_TRUE(events.back()["all"].asBool());
    EXPECT_EQ(folder->success, 4);
    EXPECT_EQ(folder->errors, 0);
    EXPECT_EQ(folder->lenLoc.load(), folder->lenSvr.load());
    EXPECT_TRUE(JobHarness::named(events, "down_recv_size").empty());  // the folder has a length

    // Per file: the request's progress, the name, the begin, the blocks, the completion.
    const auto begins = fileEvents(events, "down_begin");
    ASSERT_EQ(begins.size(), 3u);
    EXPECT_EQ(begins[1]["file"]["pathLoc"].asString(), (root / "2019" / "deep" / "b.txt").string());
    EXPECT_FALSE(begins[1]["folder"].asBool());
    const auto progress = fileEvents(events, "down_process");
    const auto& lastOfA = progress[0];
    EXPECT_EQ(lastOfA["file"]["percent"].asString(), "0%");  // max(0, 1) / 300000
    bool sawHundred = false;
    for (const auto& event : progress)
        if (event["file"]["id"].asInt() == 0 && event["file"]["lenLoc"].asInt64() == int64_t(a.size())) {
            sawHundred = true;
            EXPECT_EQ(event["file"]["percent"].asString(), "100%");
            EXPECT_EQ(event["file"]["sizeLoc"].asString(), "292 KB");
        }
    EXPECT_TRUE(sawHundred);
}

TEST_F(FdDownloaderTest, ResumedFolderSkipsCompleteFilesAndResumesPartialOnes)
{
    FixtureServer server;
    const std::string body = TempFolder::pattern(50000);
    server.on("/part", [body](const FixtureRequest& request) {
        FixtureResponse response = FixtureResponse::file(body.substr(20000));
        response.status = 206;
        response.header("Content-Range", "bytes 20000-49999/50000");
        EXPECT_EQ(request.header("Range"), "bytes=20000-49999");
        return response;
    });
    server.on("/done", FixtureResponse::file("never asked"));
    const auto root = downloads.path() / "f";
    downloads.writeFile("f/part.bin", body.substr(0, 20000));

    Json::Value task;
    task["id"] = 5;
    task["nameLoc"] = "f";
    task["pathLoc"] = root.string();
    task["lenLoc"] = 30000;
    task["lenSvr"] = 60000;
    Json::Value done = file((root / "done.bin").string(), server.url("/done"), 10000);
    done["complete"] = true;
    done["lenLoc"] = 10000;
    Json::Value part = file((root / "part.bin").string(), server.url("/part"), 50000);
    part["lenLoc"] = 20000;
    task["files"].append(done);
    task["files"].append(part);
    auto folder = std::make_shared<FdDownItem>();
    folder->fromJson(task);
    folder->layOutIfNew();
    EXPECT_TRUE(harness.take().empty());  // no init_end for a resumed folder
    harness.run(job, folder);
    const auto events = harness.take();

    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/part");
    EXPECT_EQ(TempFolder::readFile(root / "part.bin"), body);
    EXPECT_EQ(folder->lenLoc.load(), 60000);
    const auto completes = fileEvents(events, "down_complete");
    ASSERT_EQ(completes.size(), 1u);
    EXPECT_EQ(completes[0]["file"]["id"].asInt(), 1);
    EXPECT_TRUE(events.back()["all"].asBool());
}

TEST_F(FdDownloaderTest, FailedFilesCountAndTheRunGoesOn)
{
    FixtureServer server;
    FixtureResponse missing = FixtureResponse::file("x");
    missing.status = 404;
    server.on("/missing", missing);
    server.on("/ok", FixtureResponse::file("fine"));
    Json::Value task;
    task["id"] = 8;
    task["nameLoc"] = "mixed";
    task["files"].append(file("\\a", server.url("/missing"), 1));
    task["files"].append(file("\\b", server.url("/ok"), 4));
    auto folder = folderTask(task);
    harness.run(job, folder);
    auto events = harness.take();
    EXPECT_EQ(folder->errors, 1);
    EXPECT_EQ(folder->success, 1);
    EXPECT_EQ(fileEvents(events, "down_complete").size(), 1u);
    // The folder has no length, so its files each report their Content-Length.
    EXPECT_EQ(JobHarness::named(events, "down_recv_size").size(), 1u);
    // A failed file makes the whole folder an error, never "all": true.
    EXPECT_EQ(events.back()["name"].asString(), "down_error");
    for (const auto& event : JobHarness::named(events, "down_complete"))
        EXPECT_FALSE(event["all"].asBool());

    // Every transfer of a run failing is reported as an error of the folder.
    Json::Value failing;
    failing["id"] = 9;
    failing["nameLoc"] = "bad";
    failing["lenSvr"] = 10;
    failing["files"].append(file("\\a", server.url("/missing"), 5));
    failing["files"].append(file("\\b", server.url("/missing"), 5));
    auto bad = folderTask(failing);
    harness.run(job, bad);
    events = harness.take();
    const auto errors = JobHarness::named(events, "down_error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["code"].asUInt(), 1u);
    EXPECT_EQ(errors[0]["id"].asInt(), 9);
    EXPECT_EQ(bad->errors, 2);
}

TEST_F(FdDownloaderTest, StopInTheMiddle)
{
    FixtureServer server;
    FixtureResponse stalled = FixtureResponse::file(std::string(50000, 's'));
    stalled.stall = FixtureResponse::Stall::afterHeaders;
    server.on("/stall", stalled);
    server.on("/later", FixtureResponse::file("later"));
    Json::Value task;
    task["id"] = 30;
    task["nameLoc"] = "stop";
    task["lenSvr"] = 50010;
    task["files"].append(file("\\stall.bin", server.url("/stall"), 50000));
    task["files"].append(file("\\later.bin", server.url("/later"), 5));
    task["files"].append(file("\\empty.bin", "", 0));
    auto folder = folderTask(task);
    harness.start(job, folder);
    ASSERT_TRUE(harness.waitFor("down_begin"));
    while (fileEvents(harness.take(), "down_begin").empty())
        ASSERT_TRUE(harness.waitFor("down_begin"));
    job->stop();
    ASSERT_TRUE(harness.waitDone());
    ASSERT_TRUE(harness.waitRunsEnded());
    const auto events = harness.take();
    EXPECT_EQ(folder->errors, 2);                                    // the stalled file and the one after it
    EXPECT_EQ(folder->success, 1);                                   // the empty file is still created
    EXPECT_EQ(JobHarness::named(events, "down_stoped").size(), 3u);  // per transfer, and the run
    EXPECT_EQ(events.back()["name"].asString(), "down_stoped");
    for (const auto& event : JobHarness::named(events, "down_complete"))
        EXPECT_FALSE(event["all"].asBool());
    EXPECT_EQ(server.requests().size(), 1u);  // the stopped run asks for nothing more
}
