// What reaches the page and the disk when downloads meet changed files, full disks, cut or
// silent servers, clashing names and hostile names: driven through the control's commands
// against real sockets and real files.
#include "DownloadPageTest.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

namespace fs = std::filesystem;

using TransferIntegrityTest = DownloadPageTest;

namespace {

// A small tmpfs that stands for a full disk, unmounted at the end.
class SmallDisk {
public:
    SmallDisk(const fs::path& at, const char* size) : point(at)
    {
        fs::create_directories(point);
        mounted = ::mount("tmpfs", point.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(point.c_str(), MNT_DETACH);
    }
    bool mounted = false;
    const fs::path point;
};

}  // namespace

TEST_F(TransferIntegrityTest, ResumeAppendsOnlyTheRestOfTheSameFile)
{
    const std::string body = TempFolder::pattern(10000);
    server.on("/f", FixtureServer::rangedFile(body));
    server.on("/changed", FixtureServer::rangedFile(TempFolder::pattern(12000).substr(7)));
    FixtureResponse unsatisfiable = FixtureResponse::file("");
    unsatisfiable.status = 416;
    unsatisfiable.header("Content-Range", "bytes */10000");
    server.on("/whole", unsatisfiable);
    FixtureResponse partial = FixtureResponse::file(body.substr(0, 100));
    partial.status = 206;
    partial.header("Content-Range", "bytes 0-99/10000");
    server.on("/partial", partial);

    const auto done = dir.writeFile("done.bin", body);
    const auto changed = dir.writeFile("changed.bin", body.substr(0, 4096));
    const auto unsized = dir.writeFile("unsized.bin", body.substr(0, 4096));
    const auto whole = dir.writeFile("whole.bin", body);
    page.post(addFile(1, server.url("/never"),
                      member("pathLoc", done.string()) + member("lenLoc", 10000) + member("lenSvr", 10000)));
    page.post(addFile(2, server.url("/changed"),
                      member("pathLoc", changed.string()) + member("lenLoc", 4096) + member("lenSvr", 10000)));
    page.post(addFile(3, server.url("/f"), member("pathLoc", unsized.string()) + member("lenLoc", 4096)));
    page.post(addFile(4, server.url("/whole"), member("pathLoc", whole.string()) + member("lenLoc", 10000)));
    page.post(addFile(5, server.url("/partial"), member("pathLoc", (dir.path() / "partial.bin").string())));
    runQueue();

    // Already whole: complete without asking the server.
    EXPECT_EQ(shape(1), "down_complete");
    for (const auto& request : server.requests())
        EXPECT_NE(request.target, "/never");
    // The server's file changed: nothing of it is spliced onto the old head.
    EXPECT_EQ(last(2, "down_error")["code"].asUInt(), 1u);
    EXPECT_EQ(TempFolder::readFile(changed), body.substr(0, 4096));
    // No saved length: the total comes from Content-Range, not from the rest's Content-Length.
    EXPECT_EQ(last(3, "down_recv_size")["len"].asInt64(), 10000);
    EXPECT_EQ(last(3, "down_process")["percent"].asString(), "100%");
    EXPECT_TRUE(endsWith(3, "down_complete"));
    EXPECT_EQ(TempFolder::readFile(unsized), body);
    // A 416 whose total is the local length: the file was whole.
    EXPECT_EQ(last(4, "down_recv_size")["len"].asInt64(), 10000);
    EXPECT_TRUE(endsWith(4, "down_complete"));
    EXPECT_EQ(TempFolder::readFile(whole), body);
    // A partial answer to a request for the whole file is no success.
    EXPECT_EQ(last(5, "down_error")["code"].asUInt(), 1u);
    EXPECT_FALSE(fs::exists(dir.path() / "partial.bin"));
}

TEST_F(TransferIntegrityTest, AFullDiskIsAnErrorAndLenLocNeverPassesTheDisk)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    SmallDisk disk(dir.path() / "small", "256k");
    ASSERT_TRUE(disk.mounted);
    init(disk.point, 1);
    server.on("/big", FixtureResponse::file(TempFolder::pattern(1024 * 1024)));
    server.on("/half", FixtureResponse::file(TempFolder::pattern(200 * 1024)));

    page.post(addFile(1, server.url("/big")));
    Json::Value folder;
    folder["name"] = "add_folder";
    folder["id"] = 2;
    folder["nameLoc"] = "tree";
    folder["pathLoc"] = "E:\\tree";
    folder["lenSvr"] = 400 * 1024;
    for (const char* name : {"E:\\tree\\a.bin", "E:\\tree\\b.bin"}) {
        Json::Value file;
        file["pathLoc"] = name;
        file["fileUrl"] = server.url("/half");
        file["lenSvr"] = 200 * 1024;
        folder["files"].append(file);
    }
    Json::Value empty;
    empty["pathLoc"] = "E:\\tree\\empty.txt";
    empty["lenSvr"] = 0;
    folder["files"].append(empty);
    page.post(writeCompactJson(folder));
    runQueue();

    EXPECT_EQ(last(1, "down_error")["code"].asUInt(), 2u);
    EXPECT_TRUE(endsWith(1, "down_error down_stoped")) << shape(1);
    const std::string path = last(1, "down_recv_name")["pathLoc"].asString();
    EXPECT_LE(last(1, "down_process")["lenLoc"].asInt64(), int64_t(fs::file_size(path)));
    EXPECT_LT(fs::file_size(path), 1024u * 1024u);
    EXPECT_TRUE(page.waitFor("queue_complete", 1, 0));  // the queue went on to the folder

    // The folder's second file cannot fit: the folder is an error, never "all": true.
    EXPECT_TRUE(endsWith(2, "down_error down_stoped")) << shape(2);
    for (const auto& event : of(2))
        EXPECT_FALSE(event["all"].asBool());
}

TEST_F(TransferIntegrityTest, CutBodiesEndInErrorsResumeToTheSameBytesAndTheQueueGoesOn)
{
    const std::string body = TempFolder::pattern(300000);
    std::atomic<int> asked{0};
    server.on("/cut", [&](const FixtureRequest& request) {
        if (asked++ > 0)
            return FixtureServer::rangedFile(body)(request);
        FixtureResponse cut = FixtureResponse::file(body);
        cut.cutAfter = 100000;
        return cut;
    });
    FixtureResponse reset = FixtureResponse::file(body);
    reset.cutAfter = 50000;
    reset.resetOnCut = true;
    server.on("/reset", reset);
    server.on("/good", FixtureResponse::file("fine"));
    page.post(addFile(1, server.url("/cut")));
    page.post(addFile(2, server.url("/reset")));
    page.post(addFile(3, server.url("/good")));
    runQueue();

    for (int id : {1, 2}) {
        EXPECT_TRUE(endsWith(id, "down_error down_stoped")) << shape(id);
        EXPECT_EQ(last(id, "down_error")["code"].asUInt(), 1u);
    }
    EXPECT_TRUE(endsWith(3, "down_complete"));
    EXPECT_EQ(page.events()[page.events().size() - 2]["name"].asString(), "queue_complete");

    // The page resumes with what the events told it, and the file ends byte-identical.
    const std::string path = last(1, "down_recv_name")["pathLoc"].asString();
    const int64_t saved = last(1, "down_process")["lenLoc"].asInt64();
    EXPECT_EQ(saved, int64_t(fs::file_size(path)));
    page.clear();
    page.post(addFile(1, server.url("/cut"),
                      member("pathLoc", path) + member("lenLoc", saved) + member("lenSvr", int64_t(body.size()))));
    runQueue();
    EXPECT_TRUE(endsWith(1, "down_complete")) << shape(1);
    EXPECT_EQ(server.requests().back().header("Range"), "bytes=" + std::to_string(saved) + "-299999");
    EXPECT_EQ(TempFolder::readFile(path), body);
}

TEST_F(TransferIntegrityTest, SilentServersEndTheTaskAndStopsArePromptInEveryPhase)
{
    Config::instance().stallSeconds = 1;
    FixtureServer silent(FixtureServer::Mode::silent);
    FixtureResponse headersOnly = FixtureResponse::file(std::string(100000, 'h'));
    headersOnly.stall = FixtureResponse::Stall::afterHeaders;
    server.on("/headers-only", headersOnly);
    server.on("/mid", [&](const FixtureRequest&) {
        FixtureResponse answer = FixtureResponse::file(std::string(100000, 'm'));
        answer.pauseAfter = 1000;
        answer.paused = [&] { page.waitFor("down_error", 3, 30); };  // silent until this one failed too
        return answer;
    });
    init(dir.path(), 3);
    page.post(addFile(1, silent.url("/never-answered")));
    page.post(addFile(2, server.url("/headers-only")));
    page.post(addFile(3, server.url("/mid")));
    runQueue();
    for (int id : {1, 2, 3})
        EXPECT_EQ(last(id, "down_error")["code"].asUInt(), 1u) << shape(id);

    // With the default limit, a stop ends each phase at once: connecting, awaiting the answer,
    // mid-body.
    Config::instance().stallSeconds = 60;
    FixtureServer unaccepting(FixtureServer::Mode::neverAccepts);
    page.clear();
    page.post(addFile(4, unaccepting.url("/x")));
    page.post(addFile(5, silent.url("/y")));
    page.post(addFile(6, server.url("/headers-only")));
    page.post(R"({"name":"start_queue"})");
    ASSERT_TRUE(page.waitFor("down_begin"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto asked = std::chrono::steady_clock::now();
    page.post(R"({"name":"stop_queue"})");
    ASSERT_TRUE(page.waitFor("down_stoped", 3, 5));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    ASSERT_TRUE(page.waitFor("queue_end"));
}

TEST_F(TransferIntegrityTest, NamesNeverClashAndFallBackWhenTheServerGivesNone)
{
    const auto user = dir.writeFile("f.bin", "the user's own file");
    const std::string body = TempFolder::pattern(50000);
    server.on("/f.bin", [&](const FixtureRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // both tasks run at once
        return FixtureResponse::file(body);
    });
    server.on("/dl/report.pdf", FixtureResponse::file("pdf").header("Content-Disposition", "attachment"));
    server.on("/dl/custom", FixtureResponse::file("mine").header("Content-Disposition", "attachment; filename=\"\""));
    init(dir.path(), 2);
    page.post(addFile(1, server.url("/f.bin")));
    page.post(addFile(2, server.url("/f.bin")));
    page.post(addFile(3, server.url("/dl/report.pdf")));
    page.post(addFile(4, server.url("/dl/custom"), member("nameCustom", "自己的.bin")));
    runQueue();

    EXPECT_EQ(TempFolder::readFile(user), "the user's own file");
    std::set<std::string> paths;
    for (int id : {1, 2}) {
        const auto name = last(id, "down_recv_name");
        paths.insert(name["pathLoc"].asString());
        EXPECT_EQ(TempFolder::readFile(name["pathLoc"].asString()), body);
        EXPECT_EQ(fs::path(name["pathLoc"].asString()).filename().string(), name["nameSvr"].asString());
    }
    EXPECT_EQ(paths, (std::set<std::string>{(dir.path() / "f (1).bin").string(), (dir.path() / "f (2).bin").string()}));
    EXPECT_TRUE(endsWith(3, "down_complete"));
    EXPECT_EQ(TempFolder::readFile(dir.path() / "report.pdf"), "pdf");
    EXPECT_TRUE(endsWith(4, "down_complete"));
    EXPECT_EQ(TempFolder::readFile(dir.path() / "自己的.bin"), "mine");
}

TEST_F(TransferIntegrityTest, NamesFromPagesAndListingsStayInsideTheDownloadFolder)
{
    const fs::path downloads = dir.path() / "downloads";
    fs::create_directories(downloads);
    init(downloads, 1);
    server.on("/x", FixtureResponse::file("x"));
    page.post(addFile(1, server.url("/x"), member("nameCustom", "../../escape.bin")));
    page.post(addFile(2, server.url("/x"), member("nameCustom", "tab\there.bin")));
    Json::Value folder;
    folder["name"] = "add_folder";
    folder["id"] = 3;
    folder["nameLoc"] = "..\\..\\outside";
    folder["pathLoc"] = "E:\\share\\x";
    folder["lenSvr"] = 3;
    for (const char* name : {"E:\\other\\y.bin", "E:\\share\\x\\..\\..\\..\\z.bin", "\\\\server\\w.bin"}) {
        Json::Value file;
        file["pathLoc"] = name;
        file["fileUrl"] = server.url("/x");
        file["lenSvr"] = 1;
        folder["files"].append(file);
    }
    page.post(writeCompactJson(folder));
    runQueue();

    for (int id : {1, 2, 3})
        EXPECT_TRUE(endsWith(id, "down_complete")) << shape(id);
    EXPECT_EQ(TempFolder::readFile(downloads / "escape.bin"), "x");
    EXPECT_EQ(TempFolder::readFile(downloads / "tab_here.bin"), "x");
    // Nothing was written beside the download folder, and the folder's files are all in it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    int written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(downloads / "outside"))
        written += entry.is_regular_file();
    EXPECT_EQ(written, 3);
}

TEST_F(TransferIntegrityTest, UserFilesChangeOnlyWhenBytesArriveAndVanishedFilesAreErrors)
{
    FixtureResponse missing = FixtureResponse::file("gone");
    missing.status = 404;
    server.on("/missing", missing);
    const auto kept = dir.writeFile("tree/kept.txt", "the user's text");
    // A resumed folder whose file fails before its body, with an empty file created on the way.
    Json::Value folder;
    folder["name"] = "add_folder";
    folder["id"] = 1;
    folder["nameLoc"] = "tree";
    folder["pathLoc"] = (dir.path() / "tree").string();
    folder["lenLoc"] = 1;
    folder["lenSvr"] = 100;
    Json::Value file;
    file["pathLoc"] = kept.string();
    file["fileUrl"] = server.url("/missing");
    file["lenSvr"] = 100;
    folder["files"].append(file);
    Json::Value empty;
    empty["pathLoc"] = (dir.path() / "tree" / "empty.txt").string();
    empty["lenSvr"] = 0;
    folder["files"].append(empty);
    page.post(writeCompactJson(folder));

    // A file removed while its body arrives is no completion.
    const std::string body = TempFolder::pattern(200000);
    server.on("/vanishing", [&](const FixtureRequest&) {
        FixtureResponse answer = FixtureResponse::file(body);
        answer.pauseAfter = 100000;
        answer.paused = [&] {
            const auto written = dir.path() / "vanishing";
            for (int i = 0; i < 500 && !fs::exists(written); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            fs::remove(written);
        };
        return answer;
    });
    page.post(addFile(2, server.url("/vanishing")));
    runQueue();

    EXPECT_EQ(TempFolder::readFile(kept), "the user's text");
    EXPECT_TRUE(endsWith(1, "down_error")) << shape(1);
    EXPECT_EQ(last(1, "down_error")["code"].asUInt(), 1u);
    EXPECT_EQ(last(2, "down_error")["code"].asUInt(), 2u);
    EXPECT_TRUE(last(2, "down_complete").isNull());
}
