// What reaches the page and the disk when downloads meet changed files, full disks, cut or
// silent servers, clashing names and hostile names: driven through the control's commands
// against real sockets and real files.
#include "DownloadPageTest.h"
#include "net/HttpDowner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
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

    // A body large enough to be written behind the reading, on a thread of its own.
    server.on("/huge", FixtureResponse::file(TempFolder::pattern(24 * 1024 * 1024)));
    page.post(addFile(3, server.url("/huge")));
    runQueue();
    EXPECT_EQ(last(3, "down_error")["code"].asUInt(), 2u) << shape(3);
    const std::string huge = last(3, "down_recv_name")["pathLoc"].asString();
    EXPECT_LE(last(3, "down_process")["lenLoc"].asInt64(), int64_t(fs::file_size(huge)));
    fs::remove(huge);
    page.clear();

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
    std::atomic<bool> midResumed{false};
    server.on("/mid", [&](const FixtureRequest&) {
        FixtureResponse answer = FixtureResponse::file(std::string(100000, 'm'));
        answer.pauseAfter = 1000;
        answer.paused = [&] {
            page.waitFor("down_error", 3, 30);  // silent until this one failed too
            midResumed = true;
        };
        return answer;
    });
    init(dir.path(), 3);
    page.post(addFile(1, silent.url("/never-answered")));
    page.post(addFile(2, server.url("/headers-only")));
    page.post(addFile(3, server.url("/mid")));
    runQueue();
    for (int id : {1, 2, 3})
        EXPECT_EQ(last(id, "down_error")["code"].asUInt(), 1u) << shape(id);
    // The paused answer counts the page's events: they are cleared only once it has seen them.
    for (int i = 0; i < 5000 && !midResumed; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(midResumed);

    // With the default limit, a stop ends each phase at once: connecting, awaiting the answer,
    // mid-body.
    Config::instance().stallSeconds = 60;
    FixtureServer unaccepting(FixtureServer::Mode::neverAccepts);
    page.clear();
    const int silentBefore = silent.activeConnections();  // a silent server keeps every connection
    page.post(addFile(4, unaccepting.url("/x")));
    page.post(addFile(5, silent.url("/y")));
    page.post(addFile(6, server.url("/headers-only")));
    page.post(R"({"name":"start_queue"})");
    ASSERT_TRUE(page.waitFor("down_begin"));
    // The silent server has the second task's connection; the first one's connect waits.
    for (int i = 0; i < 5000 && silent.activeConnections() == silentBefore; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
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

    // A file removed while its body arrives is no completion, nor is one moved away with a link
    // to it left in its place: its path no longer names the file itself.
    const std::string body = TempFolder::pattern(200000);
    const auto changing = [&](std::function<void(const fs::path&)> change) {
        return [&, change](const FixtureRequest& request) {
            FixtureResponse answer = FixtureResponse::file(body);
            answer.pauseAfter = 100000;
            answer.paused = [&, change, written = dir.path() / request.target.substr(1)] {
                for (int i = 0; i < 500 && !fs::exists(written); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                change(written);
            };
            return answer;
        };
    };
    server.on("/vanishing", changing([](const fs::path& written) { fs::remove(written); }));
    server.on("/relinked", changing([](const fs::path& written) {
                  fs::rename(written, written.string() + ".moved");
                  fs::create_symlink(written.filename().string() + ".moved", written);
              }));
    page.post(addFile(2, server.url("/vanishing")));
    page.post(addFile(3, server.url("/relinked")));
    runQueue();

    EXPECT_EQ(TempFolder::readFile(kept), "the user's text");
    EXPECT_TRUE(endsWith(1, "down_error")) << shape(1);
    EXPECT_EQ(last(1, "down_error")["code"].asUInt(), 1u);
    for (int id : {2, 3}) {
        EXPECT_EQ(last(id, "down_error")["code"].asUInt(), 2u) << id;
        EXPECT_TRUE(last(id, "down_complete").isNull()) << id;
    }
}

namespace {

// A server that honours If-Range as RFC 9110 says: the rest of the file only when the validator
// names its current version, the whole file otherwise.
FixtureServer::Handler versionedFile(const std::string& body, const std::string& etag, const std::string& modified)
{
    return [=](const FixtureRequest& request) {
        const std::string validator = request.header("If-Range");
        const bool current = validator.empty() || validator == etag || validator == modified;
        FixtureResponse answer = current ? FixtureServer::rangedFile(body)(request) : FixtureResponse::file(body);
        if (!etag.empty())
            answer.header("ETag", etag);
        if (!modified.empty())
            answer.header("Last-Modified", modified);
        return answer;
    };
}

}  // namespace

TEST_F(TransferIntegrityTest, AFileThatChangedOnTheServerIsFetchedWholeNeverSpliced)
{
    const std::string old = TempFolder::pattern(10000);
    const std::string fresh = TempFolder::pattern(10001).substr(1);  // the same length, other bytes
    const std::string monday = "Mon, 07 Dec 2026 10:00:00 GMT", tuesday = "Tue, 08 Dec 2026 10:00:00 GMT";
    server.on("/etag", versionedFile(fresh, "\"v2\"", ""));
    server.on("/modified", versionedFile(fresh, "", tuesday));
    server.on("/ignores-if-range", [&](const FixtureRequest& request) {
        return FixtureServer::rangedFile(fresh)(request).header("ETag", "\"v2\"");
    });
    server.on("/first", versionedFile(old, "\"v1\"", monday));
    server.on("/weak", versionedFile(old, "W/\"w1\"", monday));

    const auto resume = [&](int id, const std::string& path, const std::string& validator) {
        const auto head = dir.writeFile(path, old.substr(0, 4096));
        page.post(
            addFile(id,
                    server.url(path == "a.bin"   ? "/etag"
                               : path == "b.bin" ? "/modified"
                                                 : "/ignores-if-range"),
                    member("pathLoc", head.string()) + member("lenLoc", 4096) + member("lenSvr", 10000) + validator));
        return head;
    };
    const auto a = resume(1, "a.bin", member("etag", "\"v1\""));
    const auto b = resume(2, "b.bin", member("lastModified", monday));
    const auto c = resume(3, "c.bin", member("etag", "\"v1\""));
    page.post(addFile(4, server.url("/first")));
    page.post(addFile(5, server.url("/weak")));
    runQueue();

    // The saved validator goes out in If-Range; the new version comes whole, from byte 0.
    std::map<std::string, std::string> validators;
    for (const auto& request : server.requests())
        validators[request.target] = request.header("If-Range");
    EXPECT_EQ(validators["/etag"], "\"v1\"");
    EXPECT_EQ(validators["/modified"], monday);
    for (const auto& [id, path] : std::map<int, fs::path>{{1, a}, {2, b}}) {
        EXPECT_TRUE(endsWith(id, "down_complete")) << shape(id);
        EXPECT_EQ(TempFolder::readFile(path), fresh);
    }
    EXPECT_EQ(last(1, "down_begin")["etag"].asString(), "\"v2\"");
    EXPECT_EQ(last(2, "down_begin")["lastModified"].asString(), tuesday);
    // A server that ignores If-Range and sends the rest of another version: nothing is appended.
    EXPECT_EQ(last(3, "down_error")["code"].asUInt(), 1u);
    EXPECT_EQ(last(3, "down_error")["reason"].asString(), "the file changed on the server");
    EXPECT_EQ(TempFolder::readFile(c), old.substr(0, 4096));
    // A first run reports the strong ETag, or else Last-Modified: a weak tag vouches for nothing.
    for (const char* event : {"down_recv_size", "down_begin"}) {
        EXPECT_EQ(last(4, event)["etag"].asString(), "\"v1\"") << event;
        EXPECT_FALSE(last(4, event).isMember("lastModified")) << event;
        EXPECT_FALSE(last(5, event).isMember("etag")) << event;
        EXPECT_EQ(last(5, event)["lastModified"].asString(), monday) << event;
    }
}

TEST_F(TransferIntegrityTest, OnlyTheRawBytesOfTheRangeAreAppended)
{
    const std::string body = TempFolder::pattern(64096);
    const std::string rest = body.substr(4096);
    const auto partial = [&](const std::string& bytes) {
        FixtureResponse answer = FixtureResponse::file(bytes);
        answer.status = 206;
        answer.header("Content-Range", "bytes 4096-64095/64096");
        return answer;
    };
    server.on("/gzip", partial(rest).header("Content-Encoding", "gzip"));
    server.on("/short", partial(rest.substr(0, 1123)));
    FixtureResponse multipart =
        partial("--b\r\nContent-Type: text/plain\r\nContent-Range: bytes 4096-64095/64096\r\n\r\n" +
                rest.substr(0, 60000 - 72) + "\r\n--b--");
    multipart.headers.clear();
    multipart.header("Content-Type", "multipart/byteranges; boundary=b");
    multipart.header("Content-Range", "bytes 4096-64095/64096");
    server.on("/multipart", multipart);
    FixtureResponse twoLengths = FixtureResponse::file(body);
    twoLengths.header("Content-Length", std::to_string(body.size() * 2));
    server.on("/two-lengths", twoLengths);
    // A 200 with a coding is the file as the server keeps it: written exactly as sent.
    server.on("/archive.tar.gz", FixtureResponse::file(body).header("Content-Encoding", "gzip"));

    int id = 0;
    std::vector<fs::path> heads;
    for (const char* path : {"/gzip", "/short", "/multipart"}) {
        heads.push_back(dir.writeFile(std::string(path + 1) + ".bin", body.substr(0, 4096)));
        page.post(addFile(++id, server.url(path),
                          member("pathLoc", heads.back().string()) + member("lenLoc", 4096) + member("lenSvr", 64096)));
    }
    page.post(addFile(4, server.url("/two-lengths")));
    page.post(addFile(5, server.url("/archive.tar.gz")));
    runQueue();

    for (int task = 1; task <= 4; ++task)
        EXPECT_EQ(last(task, "down_error")["code"].asUInt(), 1u) << shape(task);
    for (const auto& head : heads)
        EXPECT_EQ(TempFolder::readFile(head), body.substr(0, 4096)) << head;
    EXPECT_FALSE(fs::exists(dir.path() / "two-lengths"));
    EXPECT_TRUE(endsWith(5, "down_complete"));
    EXPECT_EQ(TempFolder::readFile(dir.path() / "archive.tar.gz"), body);
    for (const auto& request : server.requests())
        EXPECT_EQ(request.header("Accept-Encoding"), "identity") << request.target;
}

TEST_F(TransferIntegrityTest, LinksInTheDownloadFolderAreNeverFollowedAndLockedFilesLeftAlone)
{
    const fs::path downloads = dir.path() / "downloads", outside = dir.path() / "outside";
    fs::create_directories(downloads);
    fs::create_directories(outside);
    fs::create_symlink(outside / "planted.bin", downloads / "f.bin");  // dangling, named like the file
    fs::create_symlink(outside, downloads / "sub");                    // standing for a folder
    init(downloads, 1);
    server.on("/f.bin", FixtureResponse::file("fetched"));
    FixtureResponse cut = FixtureResponse::file(std::string(5000, 'c'));
    cut.cutAfter = 0;
    cut.resetOnCut = true;
    server.on("/cut.bin", cut);
    page.post(addFile(1, server.url("/f.bin")));
    page.post(addFile(2, server.url("/f.bin"), member("nameCustom", "sub/x.bin")));
    page.post(addFile(3, server.url("/f.bin"), member("pathLoc", (downloads / "sub" / "y.bin").string())));
    page.post(addFile(4, server.url("/cut.bin")));
    // Another download (of any process) holds the file: it is left as it is.
    const auto held = dir.writeFile("downloads/held.bin", "being written");
    const int holder = ::open(held.c_str(), O_RDWR);
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(holder, F_OFD_SETLK, &whole), 0);
    page.post(addFile(5, server.url("/f.bin"), member("pathLoc", held.string()) + member("lenLoc", 0)));
    runQueue();
    ::close(holder);

    EXPECT_EQ(last(1, "down_recv_name")["pathLoc"].asString(), (downloads / "f (1).bin").string());
    EXPECT_EQ(TempFolder::readFile(downloads / "f (1).bin"), "fetched");
    for (int id : {2, 3})
        EXPECT_EQ(last(id, "down_error")["code"].asUInt(), 2u) << shape(id);
    EXPECT_TRUE(fs::is_empty(outside));
    // A new file the run made and never wrote a byte to is gone again.
    EXPECT_EQ(last(4, "down_error")["code"].asUInt(), 1u);
    EXPECT_FALSE(fs::exists(last(4, "down_recv_name")["pathLoc"].asString()));
    EXPECT_EQ(last(5, "down_error")["code"].asUInt(), 3u);
    EXPECT_EQ(last(5, "down_error")["reason"].asString(), "the file is being written by another download");
    EXPECT_EQ(TempFolder::readFile(held), "being written");
}

TEST_F(TransferIntegrityTest, ANewFolderAlwaysGetsARootOfItsOwn)
{
    const fs::path downloads = dir.path() / "downloads";
    dir.writeFile("downloads/keep.bin", "the user's");
    fs::create_directories(downloads / "docs");
    init(downloads, 1);
    server.on("/x", FixtureResponse::file("x"));
    const auto folder = [&](int id, const std::string& name, const std::vector<std::string>& paths) {
        Json::Value task;
        task["name"] = "add_folder";
        task["id"] = id;
        task["nameLoc"] = name;
        task["pathLoc"] = "E:\\share";
        task["lenSvr"] = static_cast<int>(paths.size());
        for (const auto& path : paths) {
            Json::Value file;
            file["pathLoc"] = "E:\\share\\" + path;
            file["fileUrl"] = server.url("/x");
            file["lenSvr"] = 1;
            task["files"].append(file);
        }
        page.post(writeCompactJson(task));
    };
    folder(1, "", {"keep.bin"});
    folder(2, "..", {"keep.bin"});
    folder(3, "docs", {"a.txt"});
    folder(4,
           "a\xE2\x80\xAE"
           "b\tc",
           {"same.bin", "same.bin"});
    std::vector<Json::Value> laidOut;
    for (const auto& event : page.events())
        laidOut.push_back(event);
    runQueue();

    ASSERT_EQ(laidOut.size(), 4u);
    EXPECT_EQ(laidOut[0]["nameLoc"].asString(), "download");
    EXPECT_EQ(laidOut[1]["nameLoc"].asString(), "download (1)");
    EXPECT_EQ(laidOut[2]["nameLoc"].asString(), "docs (1)");
    EXPECT_EQ(laidOut[3]["nameLoc"].asString(), "a_b_c");
    EXPECT_EQ(laidOut[3]["files"][1]["pathLoc"].asString(), (downloads / "a_b_c" / "same (1).bin").string());
    for (int id = 1; id <= 4; ++id) {
        EXPECT_TRUE(endsWith(id, "down_complete")) << shape(id);
        EXPECT_TRUE(fs::is_directory(laidOut[id - 1]["pathLoc"].asString()));
    }
    EXPECT_EQ(TempFolder::readFile(downloads / "keep.bin"), "the user's");
    EXPECT_TRUE(fs::is_empty(downloads / "docs"));
    EXPECT_EQ(TempFolder::readFile(downloads / "a_b_c" / "same.bin"), "x");
    EXPECT_EQ(TempFolder::readFile(downloads / "a_b_c" / "same (1).bin"), "x");
}

TEST_F(TransferIntegrityTest, NamesAndAddressesAreMadeSafeAndFailuresSayWhy)
{
    // Copies past any fixed cap of numbers (links: cheaper to make than files).
    const auto first = dir.writeFile("f.bin", "");
    for (int n = 1; n < 10000; ++n)
        fs::create_hard_link(first, dir.path() / ("f (" + std::to_string(n) + ").bin"));
    server.on("/f.bin", FixtureResponse::file("f"));
    const std::string longName = std::string(300, 'n') + ".pdf";
    server.on("/long", FixtureResponse::file("l").header("Content-Disposition", "attachment; filename=" + longName));
    server.on("/with%20space.bin", FixtureResponse::file("s"));
    FixtureResponse missing = FixtureResponse::file("gone");
    missing.status = 404;
    server.on("/missing", missing);
    std::string credentials = server.url("/f.bin");
    credentials.insert(credentials.find("//") + 2, "user:secret@");
    page.post(addFile(1, server.url("/f.bin")));
    page.post(addFile(2, server.url("/long")));
    page.post(addFile(3, server.url("/with space.bin"),
                      member("nameCustom",
                             "txt.\xE2\x80\xAE"
                             "exe")));
    page.post(addFile(4, credentials));
    page.post(addFile(5, server.url("/missing")));
    page.post(addFile(6, "http://127.0.0.1:1/refused"));
    runQueue();

    EXPECT_EQ(last(1, "down_recv_name")["nameSvr"].asString(), "f (10000).bin");
    const std::string shortened = last(2, "down_recv_name")["nameSvr"].asString();
    EXPECT_EQ(shortened, std::string(251, 'n') + ".pdf");
    EXPECT_EQ(TempFolder::readFile(dir.path() / shortened), "l");
    EXPECT_EQ(TempFolder::readFile(dir.path() / "txt._exe"), "s");
    for (int id : {1, 2, 3, 4})
        EXPECT_TRUE(endsWith(id, "down_complete")) << shape(id);
    std::set<std::string> targets;
    for (const auto& request : server.requests()) {
        targets.insert(request.target);
        EXPECT_FALSE(request.hasHeader("Authorization")) << request.target;
    }
    EXPECT_TRUE(targets.count("/with%20space.bin"));
    EXPECT_EQ(last(5, "down_error")["status"].asInt(), 404);
    EXPECT_EQ(last(5, "down_error")["reason"].asString(), "Not Found");
    EXPECT_FALSE(last(6, "down_error").isMember("status"));
    EXPECT_EQ(last(6, "down_error")["reason"].asString(), "Connection refused");
}

TEST_F(TransferIntegrityTest, APageSlowToTakeItsEventsIsNoSilentServer)
{
    Config::instance().stallSeconds = 2;
    // More blocks (of at most HttpDowner::kMaxBlock) than the page may fall behind by, in events.
    const std::string body = TempFolder::pattern(96 * HttpDowner::kMaxBlock);
    // The one request gets the body handed over: a copy of it, slow under a sanitizer, would
    // itself keep the server silent past the stall limit.
    auto response = std::make_shared<FixtureResponse>(FixtureResponse::file(body));
    server.on("/big", [response](const FixtureRequest&) { return std::move(*response); });
    page.post(R"({"name":"init","config":{"Folder":)" + quoted(dir.path().string()) + R"(,"FilePart":0}})");
    std::atomic<bool> held{false};
    page.setOnEvent([&](const Json::Value& event) {
        // The page's thread is held up for longer than the stall limit: the worker waits for it.
        if (event["name"].asString() == "down_process" && !held.exchange(true))
            std::this_thread::sleep_for(std::chrono::milliseconds(5000));
    });
    page.post(addFile(1, server.url("/big")));
    runQueue();
    EXPECT_TRUE(endsWith(1, "down_complete")) << shape(1);
    EXPECT_TRUE(TempFolder::readFile(last(1, "down_recv_name")["pathLoc"].asString()) == body);
}
