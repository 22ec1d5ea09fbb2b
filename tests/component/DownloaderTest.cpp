#include "JobHarness.h"

#include "common/FixtureServer.h"
#include "common/NginxServer.h"
#include "common/TempFolder.h"
#include "component/Config.h"
#include "support/Path.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

std::shared_ptr<DownItem> fileTask(int id, const std::string& url, const std::wstring& pathLoc = L"")
{
    auto task = std::make_shared<DownItem>();
    task->id = id;
    task->fileUrl = url;
    task->pathLoc = pathLoc;
    return task;
}

// A local-file failure: one "down_error" with code 2, and the run ends stopped.
void expectLocalFileFailure(const std::vector<Json::Value>& events)
{
    const auto errors = JobHarness::named(events, "down_error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["code"].asUInt(), 2u);
    EXPECT_EQ(events.back()["name"].asString(), "down_stoped");
}

int64_t lastLenLoc(const std::vector<Json::Value>& events)
{
    int64_t lenLoc = -1;
    for (const auto& event : JobHarness::named(events, "down_process"))
        lenLoc = event["lenLoc"].asInt64();
    return lenLoc;
}

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Config::instance().setFolder(dir.path().wstring());
        Config::instance().setCookie("");
        Config::instance().filePart = 0x100000;
        Config::instance().stallSeconds = 10;
    }
    TempFolder dir;
    JobHarness harness;
    std::shared_ptr<Downloader> job = std::make_shared<Downloader>();
};

}  // namespace

TEST_F(DownloaderTest, FirstRunFromNginxReportsEverythingInOrder)
{
    TempFolder site;
    const std::string body = TempFolder::pattern(3 * 1024 * 1024 + 17);
    site.writeFile("big file.bin", body);
    NginxServer nginx(site.path().string());
    Config::instance().filePart = 1024 * 1024;

    auto task = fileTask(7, nginx.url("/big%20file.bin"));
    harness.run(job, task);
    const auto events = harness.take();
    const std::string shape = JobHarness::shape(events);
    EXPECT_TRUE(std::regex_match(shape, std::regex("down_process down_recv_size down_recv_name down_begin "
                                                   "(down_process |down_part down_process )+down_complete")))
        << shape;
    for (const auto& event : events)
        EXPECT_EQ(event["id"].asInt(), 7);

    const auto size = JobHarness::named(events, "down_recv_size").at(0);
    EXPECT_EQ(size["len"].asInt64(), int64_t(body.size()));
    EXPECT_EQ(size["size"].asString(), "3.00 MB");
    const auto name = JobHarness::named(events, "down_recv_name").at(0);
    EXPECT_EQ(name["nameSvr"].asString(), "big%20file.bin");
    const std::string path = (dir.path() / "big%20file.bin").string();
    EXPECT_EQ(name["pathLoc"].asString(), path);
    // A part comes with the first block that takes the length 1 MiB past the last part, and
    // only then: the down_process after each block carries that block's length.
    int64_t lastPart = 0;
    bool partPending = false;
    int parts = 0;
    for (const auto& event : events) {
        const std::string kind = event["name"].asString();
        if (kind == "down_part") {
            partPending = true;
        } else if (kind == "down_process" && event["lenLoc"].asInt64() > 0) {
            const int64_t lenLoc = event["lenLoc"].asInt64();
            EXPECT_EQ(partPending, lenLoc - lastPart >= 1024 * 1024) << lenLoc;
            if (partPending) {
                lastPart = lenLoc;
                partPending = false;
                ++parts;
            }
        }
    }
    EXPECT_GE(parts, 2);
    EXPECT_EQ(lastLenLoc(events), int64_t(body.size()));
    const auto last = JobHarness::named(events, "down_process").back();
    EXPECT_EQ(last["percent"].asString(), "100%");
    EXPECT_EQ(last["sizeLoc"].asString(), last["sizeRecv"].asString());
    EXPECT_TRUE(std::regex_match(JobHarness::named(events, "down_complete").at(0)["time"].asString(),
                                 std::regex(R"(\d\d:\d\d:\d\d)")));
    EXPECT_EQ(TempFolder::readFile(path), body);
    EXPECT_EQ(task->lenSvr.load(), int64_t(body.size()));
}

TEST_F(DownloaderTest, ResumeAppendsFromTheSavedOffset)
{
    FixtureServer server;
    const std::string body = TempFolder::pattern(10000);
    server.on("/f.bin", FixtureServer::rangedFile(body));
    const auto local = dir.writeFile("f.bin", body.substr(0, 4096));
    Config::instance().setCookie("sid=42");

    auto task = fileTask(3, server.url("/f.bin"), local.wstring());
    task->lenLoc = 4096;
    task->lenSvr = 10000;
    harness.run(job, task);
    const auto events = harness.take();
    EXPECT_EQ(JobHarness::named(events, "down_recv_size").size(), 0u);
    EXPECT_EQ(JobHarness::named(events, "down_complete").size(), 1u);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Range"), "bytes=4096-9999");  // the last byte, inclusive
    EXPECT_EQ(requests[0].header("Cookie"), "sid=42");
    EXPECT_EQ(TempFolder::readFile(local), body);
    EXPECT_EQ(lastLenLoc(events), 10000);
}

TEST_F(DownloaderTest, UnusableSavedOffsetsRestartFromZero)
{
    FixtureServer server;
    const std::string body = TempFolder::pattern(5000);
    server.on("/f.bin", FixtureServer::rangedFile(body));
    struct Case {
        int64_t lenLoc;
        bool fileThere;
    } cases[] = {{6000, true}, {100, false}, {-5, true}};
    int id = 0;
    for (const auto& c : cases) {
        const auto local = dir.path() / ("f" + std::to_string(id) + ".bin");
        if (c.fileThere)
            dir.writeFile(local.filename().string(), "stale bytes that must go");
        auto task = fileTask(++id, server.url("/f.bin"), local.wstring());
        task->lenLoc = c.lenLoc;
        task->lenSvr = 5000;
        harness.run(job, task);
        EXPECT_EQ(TempFolder::readFile(local), body) << "case " << id;
        EXPECT_EQ(JobHarness::named(harness.take(), "down_complete").size(), 1u) << "case " << id;
    }
    for (const auto& request : server.requests())
        EXPECT_FALSE(request.hasHeader("Range"));
}

TEST_F(DownloaderTest, ServerIgnoringRangeRestartsTheFile)
{
    FixtureServer server;
    const std::string body = TempFolder::pattern(20000);
    server.on("/f.bin", FixtureResponse::file(body));  // always 200 with the whole file
    const auto local = dir.writeFile("f.bin", body.substr(0, 8192));
    auto task = fileTask(5, server.url("/f.bin"), local.wstring());
    task->lenLoc = 8192;
    task->lenSvr = 20000;
    harness.run(job, task);
    const auto events = harness.take();
    EXPECT_EQ(TempFolder::readFile(local), body);
    // The page sees the restart: the offsets it is told count the new file from 0.
    EXPECT_EQ(lastLenLoc(events), 20000);
    EXPECT_EQ(task->lenLoc.load(), 20000);
    EXPECT_EQ(JobHarness::named(events, "down_complete").size(), 1u);
}

TEST_F(DownloaderTest, PartialAnswerAtTheWrongOffsetFailsWithoutWriting)
{
    FixtureServer server;
    FixtureResponse wrong = FixtureResponse::file("XXXX");
    wrong.status = 206;
    wrong.header("Content-Range", "bytes 0-3/100");
    server.on("/f.bin", wrong);
    const auto local = dir.writeFile("f.bin", std::string(50, 'a'));
    auto task = fileTask(6, server.url("/f.bin"), local.wstring());
    task->lenLoc = 50;
    task->lenSvr = 100;
    harness.run(job, task);
    const auto errors = JobHarness::named(harness.take(), "down_error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["code"].asUInt(), 1u);
    EXPECT_EQ(TempFolder::readFile(local), std::string(50, 'a'));
}

TEST_F(DownloaderTest, StopWhileReceivingEndsWithStopped)
{
    FixtureServer server;
    FixtureResponse stalled = FixtureResponse::file(std::string(100000, 'z'));
    stalled.stall = FixtureResponse::Stall::afterHeaders;
    server.on("/slow", stalled);
    auto task = fileTask(9, server.url("/slow"));
    harness.start(job, task);
    ASSERT_TRUE(harness.waitFor("down_begin"));
    const auto asked = std::chrono::steady_clock::now();
    job->stop();
    ASSERT_TRUE(harness.waitDone());
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
    ASSERT_TRUE(harness.waitFor("down_stoped"));
    const auto events = harness.take();
    EXPECT_EQ(JobHarness::named(events, "down_error").size(), 0u);
    EXPECT_EQ(events.back()["name"].asString(), "down_stoped");
}

TEST_F(DownloaderTest, UnopenableLocalFileIsCodeTwoThenStopped)
{
    FixtureServer server;
    server.on("/f.bin", FixtureResponse::file("hello"));
    const auto blocker = dir.writeFile("file", "x");
    auto task = fileTask(11, server.url("/f.bin"), (blocker / "sub" / "f.bin").wstring());
    harness.run(job, task);
    ASSERT_TRUE(harness.waitFor("down_stoped"));
    expectLocalFileFailure(harness.take());
}

TEST_F(DownloaderTest, FailedWritesAreNeverCounted)
{
    FixtureServer server;
    server.on("/f.bin", FixtureResponse::file(TempFolder::pattern(200000)));
    auto task = fileTask(12, server.url("/f.bin"), L"/dev/full");  // every write fails: disk full
    harness.run(job, task);
    ASSERT_TRUE(harness.waitFor("down_stoped"));
    const auto events = harness.take();
    expectLocalFileFailure(events);
    EXPECT_EQ(task->lenLoc.load(), 0);
    for (const auto& event : JobHarness::named(events, "down_process"))
        EXPECT_EQ(event["lenLoc"].asInt64(), 0);
}

TEST_F(DownloaderTest, ShortBodiesFailAndAnEmptyFileCompletes)
{
    FixtureServer server;
    FixtureResponse cut = FixtureResponse::file(TempFolder::pattern(100000));
    cut.cutAfter = 30000;
    server.on("/cut", cut);
    FixtureResponse announced = FixtureResponse::file("");
    announced.declaredLength = 5000;
    server.on("/announced", announced);
    server.on("/empty", FixtureResponse::file(""));

    for (const char* target : {"/cut", "/announced"}) {
        auto task = fileTask(1, server.url(target), (dir.path() / (std::string(target + 1) + ".bin")).wstring());
        harness.run(job, task);
        ASSERT_TRUE(harness.waitFor("down_stoped")) << target;
        const auto events = harness.take();
        const std::string shape = JobHarness::shape(events);
        EXPECT_EQ(shape.substr(shape.find("down_error")), "down_error down_stoped") << target;
        EXPECT_EQ(JobHarness::named(events, "down_error")[0]["code"].asUInt(), 1u);
        // What the page saves is what the file holds: the next run resumes from there.
        EXPECT_EQ(task->lenLoc.load(), fileSize(task->pathLoc)) << target;
        EXPECT_EQ(lastLenLoc(events), fileSize(task->pathLoc)) << target;
    }

    auto emptyTask = fileTask(2, server.url("/empty"), (dir.path() / "empty.bin").wstring());
    harness.run(job, emptyTask);  // the same job object, reused
    EXPECT_EQ(JobHarness::shape(harness.take()), "down_process down_recv_size down_recv_name down_begin down_complete");
    EXPECT_TRUE(pathExists(emptyTask->pathLoc));
}

TEST_F(DownloaderTest, PartEventsFollowFilePart)
{
    FixtureServer server;
    const std::string body = TempFolder::pattern(256 * 1024);
    server.on("/f.bin", FixtureServer::rangedFile(body));

    Config::instance().filePart = 0;  // every block
    auto every = fileTask(1, server.url("/f.bin"), (dir.path() / "a.bin").wstring());
    harness.run(job, every);
    auto events = harness.take();
    const size_t blocks = JobHarness::named(events, "down_process").size() - 1;  // one is the request
    EXPECT_EQ(JobHarness::named(events, "down_part").size(), blocks);

    // A resumed run whose offset is already past filePart sends a part at its first block.
    Config::instance().filePart = 1024;
    dir.writeFile("b.bin", body.substr(0, 200000));
    auto resumed = fileTask(2, server.url("/f.bin"), (dir.path() / "b.bin").wstring());
    resumed->lenLoc = 200000;
    resumed->lenSvr = int64_t(body.size());
    harness.run(job, resumed);
    events = harness.take();
    const std::string shape = JobHarness::shape(events);
    EXPECT_EQ(shape.find("down_begin down_part"), shape.find("down_begin")) << shape;
    EXPECT_EQ(TempFolder::readFile(dir.path() / "b.bin"), body);
}

TEST_F(DownloaderTest, ServerFileNamesStayInsideTheFolder)
{
    FixtureServer server;
    server.on("/evil", FixtureResponse::file("pwned").header("Content-Disposition",
                                                             "attachment; filename=\"../../escape.txt\""));
    server.on("/custom",
              FixtureResponse::file("mine").header("Content-Disposition", "attachment; filename=\"server.txt\""));
    auto evil = fileTask(1, server.url("/evil"));
    harness.run(job, evil);
    EXPECT_EQ(evil->pathLoc, pathJoin(dir.path().wstring(), L"escape.txt"));
    EXPECT_EQ(TempFolder::readFile(dir.path() / "escape.txt"), "pwned");

    auto custom = fileTask(2, server.url("/custom"));
    custom->nameCustom = L"我的.txt";
    harness.run(job, custom);
    const auto names = JobHarness::named(harness.take(), "down_recv_name");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1]["nameSvr"].asString(), "我的.txt");
    EXPECT_EQ(custom->nameSvr, L"server.txt");
    EXPECT_EQ(TempFolder::readFile(dir.path() / "我的.txt"), "mine");
}

TEST_F(DownloaderTest, FailedRequestIsCodeOne)
{
    FixtureServer server;
    FixtureResponse missing = FixtureResponse::file("x");
    missing.status = 404;
    server.on("/gone", missing);
    auto task = fileTask(4, server.url("/gone"), (dir.path() / "gone.bin").wstring());
    harness.run(job, task);
    const auto events = harness.take();
    const auto errors = JobHarness::named(events, "down_error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["code"].asUInt(), 1u);
    EXPECT_EQ(JobHarness::named(events, "down_stoped").size(), 0u);
}
