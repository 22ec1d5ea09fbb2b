#include "ZelvornProcess.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built zelvorn to its end, standard input from `input`.
Outcome zelvorn(const TempFolder& folder, const std::vector<std::string>& arguments, const std::string& input = "")
{
    ZelvornProcess::Options options;
    options.input = input;
    ZelvornProcess run(folder, arguments, options);
    Outcome outcome;
    outcome.status = run.wait();
    outcome.out = run.out();
    outcome.err = run.err();
    return outcome;
}

}  // namespace

// `zelvorn stdio` reaches its control only through the registration: registered for the user
// it runs, unregistered it says which command fixes it.
TEST(StdioHost, CreatesItsControlThroughTheRegistry)
{
    TempFolder folder;
    Outcome run = zelvorn(folder, {"stdio"}, "{\"name\":\"nonsense\"}\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Dravik.DownloaderPartition is not registered; run: zelvorn register --user"),
              std::string::npos)
        << run.err;

    run = zelvorn(folder, {"register", "--user"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("registered"), std::string::npos);
    EXPECT_NE(TempFolder::readFile(folder.path() / "user.json").find("libzelvorn2.so"), std::string::npos);

    run = zelvorn(folder, {"stdio"}, "{\"name\":\"nonsense\"}\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");

    run = zelvorn(folder, {"register", "--user", "--unregister"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = zelvorn(folder, {"stdio"}, "{\"name\":\"nonsense\"}\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("run: zelvorn register --user"), std::string::npos) << run.err;
}

TEST(StdioHost, FailuresGiveMessagesAndExitCodes)
{
    TempFolder folder;
    EXPECT_EQ(zelvorn(folder, {"register", "--bogus"}).status, 2);
    Outcome run = zelvorn(folder, {"register", "--user", folder.file("missing.so")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot load"), std::string::npos) << run.err;

    folder.writeFile("user.json", "corrupt");
    run = zelvorn(folder, {"stdio"}, "{\"name\":\"nonsense\"}\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("registry file is corrupt"), std::string::npos) << run.err;
}

TEST(StdioHost, EachEventIsOneLine)
{
    TempFolder folder;
    ASSERT_EQ(zelvorn(folder, {"register", "--user"}).status, 0);
    // Lines that arrive together are handed over in batches: more than one batch holds, none lost.
    std::string many;
    for (int i = 0; i < 600; ++i)
        many += "{\"name\":\"init\",\"config\":{\"ThreadCount\":" + std::to_string(i % 5 + 1) + "}}\n";
    const Outcome run = zelvorn(folder, {"stdio"},
                                "{\"name\":\"init\",\"config\":{\"ThreadCount\":2}}\r\n"
                                "not json\n" +
                                    many + "{\"name\":\"init\",\"config\":{\"Folder\":\"/tmp/下载\"}}");
    EXPECT_EQ(run.status, 0) << run.err;
    std::string loaded;
    for (int i = 0; i < 602; ++i)
        loaded += "{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}\n";
    EXPECT_EQ(run.out, loaded);
}

// A line over 16 MiB is skipped as it streams past, never held whole; the lines around it are
// handled. Each long line is a well-formed "init", so handling it would show as an event.
TEST(StdioHost, SkipsOverlongLinesWithoutHoldingThem)
{
    TempFolder folder;
    ASSERT_EQ(zelvorn(folder, {"register", "--user"}).status, 0);
    const std::string loaded = "{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}\n";
    const auto longInit = [](size_t mebibytes) {
        return "{\"name\":\"init\",\"config\":{\"Cookie\":\"" + std::string(mebibytes << 20, 'c') + "\"}}\n";
    };
    const std::string good = "{\"name\":\"init\",\"config\":{\"ThreadCount\":2}}\n";

    ZelvornProcess::Options interactive;
    interactive.pipes = true;
    ZelvornProcess host(folder, {"stdio"}, interactive);
    // Standard output once it holds `lines` lines (or after 30 s without them).
    std::string received;
    const auto awaitLines = [&](long lines) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::count(received.begin(), received.end(), '\n') < lines &&
               std::chrono::steady_clock::now() < deadline &&
               host.readLines(std::chrono::milliseconds(100), received)) {
        }
        return received;
    };
    // The host's peak resident memory so far, in bytes.
    const auto peakMemory = [&] { return std::stoul(host.procStatus("VmHWM")) * 1024; };

    ASSERT_TRUE(host.write(good));
    ASSERT_EQ(awaitLines(1), loaded);
    const size_t before = peakMemory();
    ASSERT_GT(before, 0u);
    ASSERT_TRUE(host.write(longInit(20)));
    ASSERT_TRUE(host.write(good));
    ASSERT_TRUE(host.write(longInit(40)));
    ASSERT_TRUE(host.write(good));
    EXPECT_EQ(awaitLines(3), loaded + loaded + loaded);
    [[maybe_unused]] const size_t peak = peakMemory();  // unread under the sanitizers
    // Lines whose ends straddle the edges of the pieces the host reads in: a byte lost or
    // repeated there breaks the JSON of the tail.
    const std::string head = "{\"name\":\"init\",\"config\":{", tail = "\"ThreadCount\":2}}";
    for (size_t length : {65535, 65536, 65537, 131071, 131072})
        ASSERT_TRUE(host.write(head + std::string(length - head.size() - tail.size(), ' ') + tail + "\n"));
    std::string expected;
    for (int n = 0; n < 8; ++n)
        expected += loaded;
    EXPECT_EQ(awaitLines(8), expected);
    host.closeInput();
    EXPECT_EQ(host.wait(), 0);
    EXPECT_EQ(host.err(),
              "zelvorn: line 2 skipped: longer than 16777216 bytes\n"
              "zelvorn: line 4 skipped: longer than 16777216 bytes\n");
// Not under the sanitizers: AddressSanitizer's quarantine keeps freed blocks resident, and
// ThreadSanitizer's shadow memory grows with every byte the host touches.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Room for a line at the limit, and slack; far below either long line.
    EXPECT_LT(peak - before, size_t{24} << 20) << "peak " << peak << " bytes, " << before << " before the long lines";
#endif
}
