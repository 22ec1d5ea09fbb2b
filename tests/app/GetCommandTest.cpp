// `zelvorn get` run as a person runs it, against nginx: whole downloads, resumed ones after an
// interrupt, a damaged sidecar, failures, and the progress it shows.
#include "ZelvornProcess.h"
#include "common/FixtureServer.h"
#include "common/NginxServer.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// nginx sends a second's worth at once, then a second's worth each second: downloads larger than
// this are still running a moment after they begin.
const size_t kSlowRate = 256 * 1024;

std::vector<std::string> sidecarsIn(const fs::path& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().extension() == ".zelvorn")
            found.push_back(entry.path().string());
    return found;
}

std::vector<std::string> linesOf(const std::string& file)
{
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// nginx logs an interrupted request only when it next writes to the closed connection, which a
// rate limit can put off for a second: waits for `count` lines so that a later run's requests are
// told apart from the earlier run's (fewer lines after 20 s).
std::vector<std::string> awaitLogLines(const std::string& file, size_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto lines = linesOf(file);
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines = linesOf(file);
    }
    return lines;
}

// Waits until every file has grown to at least `bytes` (false after 20 s).
bool awaitGrowth(const std::vector<fs::path>& files, uintmax_t bytes)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        bool grown = true;
        for (const auto& file : files) {
            std::error_code error;
            grown = grown && fs::file_size(file, error) >= bytes && !error;
        }
        if (grown)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The file holds exactly `expected` (told by size and first difference, not by dumping both).
::testing::AssertionResult holds(const fs::path& file, const std::string& expected)
{
    const std::string found = TempFolder::readFile(file);
    if (found == expected)
        return ::testing::AssertionSuccess();
    const auto differs = std::mismatch(found.begin(), found.end(), expected.begin(), expected.end());
    return ::testing::AssertionFailure() << file << " holds " << found.size() << " bytes, not " << expected.size()
                                         << "; first difference at " << (differs.first - found.begin());
}

size_t count(const std::string& text, const std::string& part)
{
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

class GetCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ZelvornProcess::registerControl(work)); }

    // Runs `zelvorn get` to its end with `arguments`, downloading into work/out.
    ZelvornProcess& get(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {"get", "-d", out().string()});
        runs.push_back(std::make_unique<ZelvornProcess>(work, arguments));
        return *runs.back();
    }
    fs::path out() const { return work.path() / "out"; }

    TempFolder site, work;
    std::vector<std::unique_ptr<ZelvornProcess>> runs;
};

}  // namespace

// A whole run, then runs that find everything done (a name of 250 bytes among them: its sidecar's
// name is shortened to fit), and one that finds a folder's file deleted and fetches only that.
TEST_F(GetCommand, DownloadsFilesAndAFolderListingThenLeavesThemAlone)
{
    const std::string big = TempFolder::pattern(3 * 1024 * 1024 + 7), named = TempFolder::pattern(1000);
    const std::string a = TempFolder::pattern(40000), b = TempFolder::pattern(123);
    const std::string longName = std::string(246, 'n') + ".bin";
    site.writeFile("big.bin", big);
    site.writeFile("two words+1.bin", named);
    site.writeFile(longName, named);
    site.writeFile("docs/a.txt", a);
    site.writeFile("docs/deep/b.txt", b);
    site.writeFile("docs/empty", "");
    NginxServer nginx(site.path(), true);
    const auto listing =
        work.writeFile("docs.json", "{\"name\":\"docs\",\"files\":[{\"url\":\"" + nginx.url("/docs/a.txt") +
                                        "\",\"size\":40000},"
                                        "{\"url\":\"" +
                                        nginx.url("/docs/deep/b.txt") +
                                        "\",\"size\":123,\"path\":\"sub/b.txt\"},"
                                        "{\"url\":\"" +
                                        nginx.url("/docs/empty") + "\",\"size\":0}]}");

    const std::vector<std::string> arguments{nginx.url("/big.bin"),
                                             nginx.url("/two%20words+1.bin"),
                                             nginx.url("/" + longName),
                                             "--folder",
                                             listing.string(),
                                             "-j",
                                             "2"};
    ZelvornProcess& first = get(arguments);
    ASSERT_EQ(first.wait(), 0) << first.err();
    EXPECT_EQ(first.err(), "");
    EXPECT_TRUE(holds(out() / "big.bin", big));
    EXPECT_TRUE(holds(out() / "two words+1.bin", named));
    EXPECT_TRUE(holds(out() / longName, named));
    EXPECT_TRUE(holds(out() / "docs" / "a.txt", a));
    EXPECT_TRUE(holds(out() / "docs" / "sub" / "b.txt", b));
    EXPECT_TRUE(fs::is_regular_file(out() / "docs" / "empty"));
    EXPECT_TRUE(sidecarsIn(out()).empty());
    // Not a terminal: the lines that stay, and no live line drawn in place.
    const std::string shown = first.out();
    for (const char* line :
         {"big.bin: complete\n", "two words+1.bin: complete\n", "docs: complete\n", "\n6 files complete: 3.04 MB in "})
        EXPECT_NE(shown.find(line), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\033'), std::string::npos) << shown;

    const size_t requests = linesOf(nginx.accessLog()).size();
    EXPECT_EQ(requests, 5u);
    ZelvornProcess& second = get(arguments);
    ASSERT_EQ(second.wait(), 0) << second.err();
    EXPECT_EQ(second.out(), "big.bin: already downloaded\ntwo words+1.bin: already downloaded\n" + longName +
                                ": already downloaded\ndocs: already downloaded\n");
    EXPECT_EQ(linesOf(nginx.accessLog()).size(), requests);
    EXPECT_TRUE(holds(out() / "big.bin", big));

    fs::remove(out() / "docs" / "sub" / "b.txt");
    ZelvornProcess& third = get({"--folder", listing.string()});
    ASSERT_EQ(third.wait(), 0) << third.err();
    EXPECT_NE(
        third.out().find("docs: 1 of 3 files are gone or changed since it was downloaded; downloading them again"),
        std::string::npos)
        << third.out();
    EXPECT_TRUE(holds(out() / "docs" / "sub" / "b.txt", b));
    const auto log = linesOf(nginx.accessLog());
    ASSERT_EQ(log.size(), requests + 1);
    EXPECT_NE(log.back().find("GET /docs/deep/b.txt "), std::string::npos) << log.back();
    EXPECT_TRUE(sidecarsIn(out()).empty());
}

// SIGINT in the middle of a file and of a folder's second file; the same command then asks only
// for the missing bytes of each, and the files come out whole.
TEST_F(GetCommand, InterruptedRunResumesWithRangeRequests)
{
    const std::string big = TempFolder::pattern(2 * kSlowRate + 100000), a = TempFolder::pattern(60000),
                      b = TempFolder::pattern(2 * kSlowRate + 3);
    site.writeFile("big.bin", big);
    site.writeFile("docs/a.bin", a);
    site.writeFile("docs/b.bin", b);
    NginxServer nginx(site.path(), true, kSlowRate);
    const auto listing =
        work.writeFile("docs.json", "{\"name\":\"docs\",\"files\":[{\"url\":\"" + nginx.url("/docs/a.bin") +
                                        "\",\"size\":60000},"
                                        "{\"url\":\"" +
                                        nginx.url("/docs/b.bin") + "\",\"size\":" + std::to_string(b.size()) + "}]}");
    const std::vector<std::string> arguments{nginx.url("/big.bin"), "--folder", listing.string(), "-j", "2"};

    ZelvornProcess& first = get(arguments);
    ASSERT_TRUE(awaitGrowth({out() / "big.bin", out() / "docs" / "b.bin"}, 16 * 1024)) << first.err();
    first.signal(SIGINT);
    EXPECT_EQ(first.wait(), 128 + SIGINT);
    EXPECT_NE(first.out().find("big.bin: stopped at "), std::string::npos) << first.out();
    EXPECT_EQ(count(first.out(), "docs: stopped at "), 1u) << first.out();
    EXPECT_NE(first.err().find("interrupted; run the same command again to resume"), std::string::npos) << first.err();
    EXPECT_EQ(sidecarsIn(out()).size(), 2u);
    // The server's validator is kept, so the next run asks only for the rest of this version.
    for (const auto& sidecar : sidecarsIn(out()))
        EXPECT_NE(TempFolder::readFile(sidecar).find("\"etag\":\"\\\""), std::string::npos) << sidecar;
    const size_t firstRequests = awaitLogLines(nginx.accessLog(), 3).size();  // big.bin, a.bin, b.bin
    ASSERT_EQ(firstRequests, 3u);

    // The folder's first file was finished, then deleted: the folder is not whole without it.
    ASSERT_TRUE(fs::remove(out() / "docs" / "a.bin"));

    ZelvornProcess& second = get(arguments);
    ASSERT_EQ(second.wait(), 0) << second.err();
    EXPECT_NE(second.out().find("big.bin: resuming at "), std::string::npos) << second.out();
    EXPECT_NE(second.out().find("docs: 1 finished file is gone or changed; downloading it again"), std::string::npos)
        << second.out();
    EXPECT_TRUE(holds(out() / "big.bin", big));
    EXPECT_TRUE(holds(out() / "docs" / "a.bin", a));
    EXPECT_TRUE(holds(out() / "docs" / "b.bin", b));
    EXPECT_TRUE(sidecarsIn(out()).empty());

    const auto log = linesOf(nginx.accessLog());
    std::vector<std::string> resumed(log.begin() + static_cast<long>(firstRequests), log.end());
    ASSERT_EQ(resumed.size(), 3u);
    std::sort(resumed.begin(), resumed.end(),
              [](const std::string& x, const std::string& y) { return x.substr(x.find(' ')) < y.substr(y.find(' ')); });
    const std::regex ranged(R"(\d+ GET (/\S+) HTTP/1\.1 bytes=([1-9]\d*)-(\d+))");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(resumed[0], match, ranged)) << resumed[0];
    EXPECT_EQ(match[1], "/big.bin");
    EXPECT_EQ(match[3], std::to_string(big.size() - 1));
    EXPECT_TRUE(std::regex_match(resumed[1], std::regex(R"(\d+ GET /docs/a\.bin HTTP/1\.1 -)"))) << resumed[1];
    ASSERT_TRUE(std::regex_match(resumed[2], match, ranged)) << resumed[2];
    EXPECT_EQ(match[1], "/docs/b.bin");
    EXPECT_EQ(match[3], std::to_string(b.size() - 1));
}

// A download is had by one run at a time: a second run of it, in another process, finds it claimed
// (the running download and the one waiting in the queue alike) and leaves it alone, as a run
// leaves alone a file that another host writes; every byte comes out right at the end.
TEST_F(GetCommand, OneRunAtATimeHasADownload)
{
    const std::string big = TempFolder::pattern(3 * kSlowRate + 5), next = TempFolder::pattern(70000);
    site.writeFile("big.bin", big);
    site.writeFile("next.bin", next);
    NginxServer nginx(site.path(), true, kSlowRate);
    const std::vector<std::string> arguments{nginx.url("/big.bin"), nginx.url("/next.bin")};  // next.bin waits

    ZelvornProcess& first = get(arguments);
    ASSERT_TRUE(awaitGrowth({out() / "big.bin"}, 16 * 1024)) << first.err();
    ZelvornProcess& second = get(arguments);
    EXPECT_EQ(second.wait(), 1);
    const std::string held =
        "in use by another zelvorn (pid " + std::to_string(first.processId()) + "); nothing done\n";
    EXPECT_EQ(second.err(), "zelvorn: big.bin: " + held + "zelvorn: next.bin: " + held);
    EXPECT_EQ(second.out(), "");
    first.signal(SIGINT);
    ASSERT_EQ(first.wait(), 128 + SIGINT);

    // Another host (a page's) writing the partial file holds its lock on it.
    const std::string partial = TempFolder::readFile(out() / "big.bin");
    const int writer = ::open((out() / "big.bin").c_str(), O_RDWR);
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(writer, F_OFD_SETLK, &whole), 0);
    ZelvornProcess& third = get({nginx.url("/big.bin")});
    EXPECT_EQ(third.wait(), 1);
    EXPECT_EQ(third.err(), "zelvorn: big.bin: being written by another download; try again later\n");
    ::close(writer);
    EXPECT_TRUE(holds(out() / "big.bin", partial));

    // Cut shorter than its sidecar says: the download starts over, and says so.
    fs::resize_file(out() / "big.bin", partial.size() / 2);
    ZelvornProcess& fourth = get(arguments);
    ASSERT_EQ(fourth.wait(), 0) << fourth.err();
    EXPECT_NE(fourth.out().find("big.bin: the part on disk is shorter than saved; starting over\n"), std::string::npos)
        << fourth.out();
    EXPECT_TRUE(holds(out() / "big.bin", big));
    EXPECT_TRUE(holds(out() / "next.bin", next));
    EXPECT_TRUE(sidecarsIn(out()).empty());
}

// Only a download's own record makes it done. A partial file that another program left, and the
// file of another URL of the same name, stay as they are, the download goes beside them, and a
// later run finds each download under its numbered name.
TEST_F(GetCommand, OnlyItsOwnRecordMakesADownloadDone)
{
    const std::string one = TempFolder::pattern(50000), other = TempFolder::pattern(30001);
    site.writeFile("a/data.bin", one);
    site.writeFile("b/data.bin", other);
    NginxServer nginx(site.path(), true);
    const std::string partial = one.substr(0, 20000);
    work.writeFile("out/data.bin", partial);  // as `curl -o` leaves it when interrupted

    ZelvornProcess& first = get({nginx.url("/a/data.bin")});
    ASSERT_EQ(first.wait(), 0) << first.err();
    EXPECT_EQ(first.out().find("data.bin: a file of this name is there that no record of this URL vouches for; "
                               "downloading beside it\ndata (1).bin: complete\n"),
              0u)
        << first.out();
    ZelvornProcess& second = get({nginx.url("/b/data.bin")});
    ASSERT_EQ(second.wait(), 0) << second.err();
    EXPECT_TRUE(holds(out() / "data.bin", partial));
    EXPECT_TRUE(holds(out() / "data (1).bin", one));
    EXPECT_TRUE(holds(out() / "data (2).bin", other));

    ZelvornProcess& third = get({nginx.url("/a/data.bin"), nginx.url("/b/data.bin")});
    ASSERT_EQ(third.wait(), 0) << third.err();
    EXPECT_EQ(third.out(), "data (1).bin: already downloaded\ndata (2).bin: already downloaded\n");
    EXPECT_EQ(linesOf(nginx.accessLog()).size(), 2u);
}

// A folder's sidecar grows by what changed, not by a copy of itself per finished file; a kill that
// cuts its last change short, or leaves a snapshot's temporary behind, does not keep the next run
// from resuming it.
TEST_F(GetCommand, SidecarsKeepChangesAndSurviveAKill)
{
    const size_t smallFiles = 150;
    std::string files;
    for (size_t i = 0; i < smallFiles; ++i) {
        site.writeFile("many/" + std::to_string(i), TempFolder::pattern(1000 + i));
        files += "{\"url\":\"URL/many/" + std::to_string(i) + "\",\"size\":" + std::to_string(1000 + i) + "},";
    }
    // Six seconds at the slow rate: time for several keeps of the sidecar while it arrives, even
    // when a loaded machine slows the small files and the first keeps save whole snapshots.
    const std::string last = TempFolder::pattern(6 * kSlowRate);
    site.writeFile("many/last", last);
    NginxServer nginx(site.path(), true, kSlowRate);
    files += "{\"url\":\"URL/many/last\",\"size\":" + std::to_string(last.size()) + "}";
    files = std::regex_replace(files, std::regex("URL"), nginx.url(""));
    const auto listing = work.writeFile("many.json", "{\"name\":\"many\",\"files\":[" + files + "]}");

    ZelvornProcess& first = get({"--folder", listing.string()});
    ASSERT_TRUE(awaitGrowth({out() / "many" / "last"}, 16 * 1024)) << first.err();
    std::vector<std::string> sidecars;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // Until a change of the last file is kept: every small file before it is kept complete.
    const std::string lastChanged = "{\"change\":{\"file\":" + std::to_string(smallFiles) + ",";
    while ((sidecars = sidecarsIn(out())).size() != 1 ||
           TempFolder::readFile(sidecars[0]).find(lastChanged) == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no change was appended";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    first.signal(SIGKILL);
    first.wait();
    const auto lines = linesOf(sidecars[0]);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_LT(lines[i].size(), 200u) << "a change, not a copy: " << lines[i];

    std::ofstream(sidecars[0], std::ios::app) << "{\"change\":{\"file\":3,\"set\":{\"lenLo";
    work.writeFile(fs::relative(sidecars[0], work.path()).string() + ".Xy12Zw", lines[0].substr(0, 100));
    const size_t firstRequests = awaitLogLines(nginx.accessLog(), smallFiles + 1).size();
    ASSERT_EQ(firstRequests, smallFiles + 1);

    ZelvornProcess& second = get({"--folder", listing.string()});
    ASSERT_EQ(second.wait(), 0) << second.err();
    EXPECT_EQ(second.err(), "");
    EXPECT_NE(second.out().find("many: resuming at "), std::string::npos) << second.out();
    EXPECT_FALSE(fs::exists(sidecars[0] + ".Xy12Zw")) << "a stale temporary is removed";
    EXPECT_TRUE(sidecarsIn(out()).empty());
    for (size_t i = 0; i < smallFiles; i += 37)
        EXPECT_TRUE(holds(out() / "many" / std::to_string(i), TempFolder::pattern(1000 + i)));
    EXPECT_TRUE(holds(out() / "many" / "last", last));
    // Only the last file is asked for again.
    EXPECT_EQ(awaitLogLines(nginx.accessLog(), firstRequests + 1).size(), firstRequests + 1);
}

// A file that changed on the server with a new length (and no validator to tell) does not fail for
// ever: the server's part no longer fits the one on disk, and the download starts over from 0.
TEST_F(GetCommand, AFileChangedOnTheServerStartsOverFromZero)
{
    struct Served {
        std::mutex lock;
        std::condition_variable moved;
        std::string body;  // guarded by lock
        bool hold = true;  // guarded by lock: the first answer pauses midway until released
    };
    const auto served = std::make_shared<Served>();
    served->body = TempFolder::pattern(200000);
    FixtureServer server;
    server.on("/f.bin", [served](const FixtureRequest& request) {
        std::lock_guard<std::mutex> lock(served->lock);
        FixtureResponse response = FixtureServer::rangedFile(served->body)(request);
        if (served->hold) {
            response.pauseAfter = 100000;
            response.paused = [served] {
                std::unique_lock<std::mutex> held(served->lock);
                served->moved.wait_for(held, std::chrono::seconds(20), [&] { return !served->hold; });
            };
        }
        return response;
    });
    ZelvornProcess& first = get({server.url("/f.bin")});
    ASSERT_TRUE(awaitGrowth({out() / "f.bin"}, 100000)) << first.err();
    first.signal(SIGINT);
    EXPECT_EQ(first.wait(), 128 + SIGINT);

    std::string changed = TempFolder::pattern(300000);
    std::transform(changed.begin(), changed.end(), changed.begin(), [](char c) { return static_cast<char>(c - 32); });
    {
        std::lock_guard<std::mutex> lock(served->lock);
        served->body = changed;
        served->hold = false;
    }
    served->moved.notify_all();
    ZelvornProcess& second = get({server.url("/f.bin")});
    ASSERT_EQ(second.wait(), 0) << second.err();
    EXPECT_NE(second.out().find("f.bin: the server's part does not continue the file on disk (it changed there); "
                                "starting over from 0\nf.bin: complete\n"),
              std::string::npos)
        << second.out();
    EXPECT_TRUE(holds(out() / "f.bin", changed));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].header("Range"), "bytes=100000-199999");
    EXPECT_FALSE(requests[2].hasHeader("Range"));
}

// A sidecar that is not intact is never trusted: the download starts over under a new name and
// the partial file it described stays as it was.
TEST_F(GetCommand, DamagedSidecarStartsTheDownloadOver)
{
    const std::string one = TempFolder::pattern(kSlowRate + 90000), two = TempFolder::pattern(kSlowRate + 1);
    site.writeFile("one.bin", one);
    site.writeFile("two.bin", two);
    NginxServer nginx(site.path(), true, kSlowRate);
    const std::vector<std::string> arguments{nginx.url("/one.bin"), nginx.url("/two.bin"), "-j", "2"};

    ZelvornProcess& first = get(arguments);
    ASSERT_TRUE(awaitGrowth({out() / "one.bin", out() / "two.bin"}, 16 * 1024)) << first.err();
    first.signal(SIGINT);
    EXPECT_EQ(first.wait(), 128 + SIGINT);
    auto sidecars = sidecarsIn(out());
    ASSERT_EQ(sidecars.size(), 2u);
    std::sort(sidecars.begin(), sidecars.end());
    // one.bin's: a length changed, the JSON still well-formed; two.bin's: cut short.
    std::string text = TempFolder::readFile(sidecars[0]);
    const size_t lenLoc = text.find("\"lenLoc\":") + 9;
    ASSERT_GT(lenLoc, 9u) << text;
    text[lenLoc] = text[lenLoc] == '1' ? '2' : '1';
    work.writeFile(fs::relative(sidecars[0], work.path()).string(), text);
    const std::string cut = TempFolder::readFile(sidecars[1]);
    work.writeFile(fs::relative(sidecars[1], work.path()).string(), cut.substr(0, cut.size() / 2));
    const std::string partialOne = TempFolder::readFile(out() / "one.bin");
    const std::string partialTwo = TempFolder::readFile(out() / "two.bin");
    const size_t firstRequests = awaitLogLines(nginx.accessLog(), 2).size();
    ASSERT_EQ(firstRequests, 2u);

    ZelvornProcess& second = get(arguments);
    ASSERT_EQ(second.wait(), 0) << second.err();
    const std::string err = second.err();
    EXPECT_NE(err.find(sidecars[0] + " is damaged (its content does not match its checksum): one.bin starts over"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find(sidecars[1] + " is damaged (it is not the JSON object it was written as): two.bin starts over"),
              std::string::npos)
        << err;
    EXPECT_EQ(TempFolder::readFile(out() / "one (1).bin"), one);
    EXPECT_EQ(TempFolder::readFile(out() / "two (1).bin"), two);
    EXPECT_EQ(TempFolder::readFile(out() / "one.bin"), partialOne);
    EXPECT_EQ(TempFolder::readFile(out() / "two.bin"), partialTwo);
    const auto log = linesOf(nginx.accessLog());
    ASSERT_EQ(log.size(), firstRequests + 2);
    for (size_t i = firstRequests; i < log.size(); ++i)
        EXPECT_EQ(log[i].substr(log[i].size() - 2), " -") << "a request for a part: " << log[i];
}

TEST_F(GetCommand, FailuresExitNonZeroWithAClearMessage)
{
    NginxServer nginx(site.path());
    ZelvornProcess& missing = get({nginx.url("/missing.bin")});
    EXPECT_EQ(missing.wait(), 1);
    EXPECT_EQ(missing.err(), "zelvorn: missing.bin: failed: " + nginx.url("/missing.bin") + ": Not Found (HTTP 404)\n");
    EXPECT_FALSE(fs::exists(out() / "missing.bin"));
    EXPECT_TRUE(sidecarsIn(out()).empty()) << "nothing was stored, so nothing is left to resume";

    // Listings that would write outside their folder, or twice to one file, start nothing.
    const std::string url = nginx.url("/a.txt");
    const std::vector<std::pair<std::string, std::string>> listings{
        {"{\"name\":\"x\",\"files\":[{\"url\":\"" + url + "\",\"size\":1,\"path\":\"../a.txt\"}]}",
         "file 0: \"path\" must stay inside the folder"},
        {"{\"name\":\"../x\",\"files\":[{\"url\":\"" + url + "\",\"size\":1}]}",
         "needs a \"name\" that is a plain folder name"},
        {"{\"name\":\"x\",\"files\":[{\"url\":\"" + url + "\",\"size\":1},{\"url\":\"" + url + "\",\"size\":1}]}",
         "lists \"a.txt\" twice"},
        {"{\"name\":\"x\",\"files\":[{\"url\":\"" + url + "\"}]}", "file 0: needs a \"size\" in bytes, 0 or more"},
        {"[1,2", "is not a JSON object"},
        {"{\"name\":\"\",\"files\":[{\"url\":\"" + url + "\",\"size\":1}]}",
         "needs a \"name\" that is a plain folder name"},
    };
    for (const auto& listing : listings) {
        const auto file = work.writeFile("listing.json", listing.first);
        ZelvornProcess& run = get({"--folder", file.string()});
        EXPECT_EQ(run.wait(), 1) << listing.first;
        EXPECT_EQ(run.err(), "zelvorn: the listing " + file.string() + " " + listing.second + "\n");
    }
    EXPECT_TRUE(fs::is_empty(out()));

    // Two downloads of one URL or one folder would claim one sidecar and one file.
    const auto one = work.writeFile("one.json", "{\"name\":\"x\",\"files\":[{\"url\":\"" + url + "\",\"size\":1}]}");
    const auto two = work.writeFile("two.json", "{\"name\":\"x\",\"files\":[{\"url\":\"" + url + "2\",\"size\":1}]}");
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{},
                                                  {"ftp://127.0.0.1/x"},
                                                  {url, "-j", "6"},
                                                  {url, "-j"},
                                                  {url, "--bogus"},
                                                  {url, nginx.url("/b.txt"), url},
                                                  {"--folder", one.string(), "--folder", one.string()},
                                                  {"--folder", one.string(), "--folder", two.string()}}) {
        ZelvornProcess& run = get(wrong);
        EXPECT_EQ(run.wait(), 2);
        EXPECT_NE(run.err().find("usage: zelvorn get URL..."), std::string::npos) << run.err();
    }
    EXPECT_TRUE(fs::is_empty(out()));

    // Each failure says why, in the server's or the system's words; a folder names its files.
    FixtureServer server;
    FixtureResponse broken = FixtureResponse::file("oops");
    broken.status = 500;
    server.on("/broken.bin", broken);
    server.on("/ok.txt", FixtureServer::rangedFile("fine"));
    const auto parts =
        work.writeFile("parts.json", "{\"name\":\"parts\",\"files\":[{\"url\":\"" + server.url("/ok.txt") +
                                         "\",\"size\":4},{\"url\":\"" + server.url("/gone.txt") +
                                         "\",\"size\":5},{\"url\":\"" + server.url("/lost.txt") + "\",\"size\":5}]}");
    ZelvornProcess& reasons = get({"-d", work.file("reasons"), server.url("/broken.bin"),
                                   "http://127.0.0.1:1/refused.bin", "--folder", parts.string()});
    EXPECT_EQ(reasons.wait(), 1);
    for (const std::string& line :
         {"zelvorn: broken.bin: failed: " + server.url("/broken.bin") + ": Internal Server Error (HTTP 500)\n",
          std::string("zelvorn: refused.bin: failed: http://127.0.0.1:1/refused.bin: Connection refused\n"),
          std::string("zelvorn: parts: failed: parts/gone.txt: Not Found (HTTP 404); 1 of 3 files complete; "
                      "not complete either: parts/lost.txt\n")})
        EXPECT_NE(reasons.err().find(line), std::string::npos) << reasons.err();
    EXPECT_NE(reasons.out().find("1 file complete, 3 downloads failed: 4bytes in "), std::string::npos)
        << reasons.out();

    ZelvornProcess unregister(work, {"register", "--user", "--unregister"});
    ASSERT_EQ(unregister.wait(), 0);
    ZelvornProcess& unregistered = get({url});
    EXPECT_EQ(unregistered.wait(), 1);
    EXPECT_NE(unregistered.err().find("is not registered; run: zelvorn register --user"), std::string::npos)
        << unregistered.err();
    EXPECT_TRUE(fs::is_empty(out())) << "a download that never began leaves no sidecar";
}

TEST_F(GetCommand, SendsTheCookieGiven)
{
    FixtureServer server;
    server.on("/c.bin", FixtureServer::rangedFile("cookie"));
    ZelvornProcess& run = get({server.url("/c.bin"), "--cookie", "session=42; theme=dark"});
    ASSERT_EQ(run.wait(), 0) << run.err();
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("Cookie"), "session=42; theme=dark");
    EXPECT_EQ(TempFolder::readFile(out() / "c.bin"), "cookie");
}

// On a terminal each running task has a line redrawn in place, built from its events' texts and
// cut to the terminal's columns; with standard output redirected, the live lines go to standard
// error when that is a terminal, and the file gets only the lines that stay.
TEST_F(GetCommand, ShowsALiveProgressLineOnATerminal)
{
    FixtureServer server;
    FixtureResponse slow = FixtureResponse::file(TempFolder::pattern(300 * 1024));
    slow.pauseAfter = 100 * 1024;
    slow.paused = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
    server.on("/slow.bin", slow);
    // 16 characters of two columns each: with the numbers, more than a 40-column terminal holds.
    const std::string wide = "\xe6\x95\xb0\xe6\x8d\xae" + std::string() + "\xe6\x96\x87\xe4\xbb\xb6";
    const std::string wideName = wide + wide + wide + wide + ".bin";
    std::string encoded;
    for (unsigned char c : wideName) {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", c);
        encoded += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(escaped);
    }
    server.on("/" + encoded, slow);
    ZelvornProcess::Options options;
    options.terminal = true;
    options.environment["TERM"] = "xterm";
    ZelvornProcess run(work, {"get", "-d", out().string(), server.url("/slow.bin")}, options);
    ASSERT_EQ(run.wait(), 0) << run.err();
    const std::string shown = run.out();
    const std::regex live(R"(slow\.bin  \d+%  [0-9.]+ KB of 300 KB  (0byte|\d+bytes|[0-9.]+ [KM]B)/s  )"
                          R"(\d\d:\d\d:\d\d left\r\n)");
    EXPECT_TRUE(std::regex_search(shown, live)) << shown;
    EXPECT_NE(shown.find("\033[1A\r\033[J"), std::string::npos) << "no line was redrawn";
    EXPECT_TRUE(std::regex_search(shown, std::regex("\033\\[1A\r\033\\[Jslow\\.bin: complete\r\n"
                                                    "1 file complete: 300 KB in [0-9.]+ s \\([0-9.]+ [KM]B/s\\)\r\n$")))
        << ::testing::PrintToString(shown);

    options.columns = 40;
    ZelvornProcess narrow(work, {"get", "-d", out().string(), server.url("/" + encoded)}, options);
    ASSERT_EQ(narrow.wait(), 0) << narrow.err();
    size_t liveLines = 0;
    std::istringstream rows(std::regex_replace(narrow.out(), std::regex("\033\\[\\d*A\r\033\\[J"), ""));
    for (std::string row; std::getline(rows, row);) {
        if (row.compare(0, wide.size(), wide) != 0 || row.find(": complete") != std::string::npos)
            continue;
        ++liveLines;
        size_t columns = 0;  // two for each character of three bytes here, one for the others
        for (unsigned char c : row)
            columns += c < 0x80 ? (c == '\r' ? 0 : 1) : c >= 0xe0 ? 2 : 0;
        EXPECT_LE(columns, 39u) << row;
    }
    EXPECT_GT(liveLines, 0u) << narrow.out();

    options.terminal = false;
    options.errorTerminal = true;
    options.columns = 80;
    ZelvornProcess redirected(work, {"get", "-d", work.file("again"), server.url("/slow.bin")}, options);
    ASSERT_EQ(redirected.wait(), 0) << redirected.err();
    EXPECT_TRUE(std::regex_search(redirected.err(), live)) << redirected.err();
    EXPECT_TRUE(std::regex_match(redirected.out(), std::regex("slow\\.bin: complete\n1 file complete: .*\n")))
        << redirected.out();
}
