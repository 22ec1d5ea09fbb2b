#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Runs the built zelvorn with the test's own hive files; standard input from `input`.
struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome zelvorn(const TempFolder& folder, const std::string& arguments, const std::string& input = "")
{
    const auto in = folder.writeFile("stdin", input);
    const auto out = folder.path() / "stdout";
    const auto err = folder.path() / "stderr";
    const std::string command = "ZELVORN_REGISTRY_USER='" + (folder.path() / "user.json").string() +
                                "' ZELVORN_REGISTRY_MACHINE='" + (folder.path() / "machine.json").string() + "' '" +
                                ZV_BINARY_DIR "/app/zelvorn' " + arguments + " <'" + in.string() + "' >'" +
                                out.string() + "' 2>'" + err.string() + "'";
    Outcome run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = TempFolder::readFile(out);
    run.err = TempFolder::readFile(err);
    return run;
}

// `zelvorn stdio` running with pipes to its standard input and output (standard error goes to
// the file "stderr"), for tests that watch it while it reads.
class LiveHost {
public:
    explicit LiveHost(const TempFolder& folder)
    {
        int toHost[2], fromHost[2];
        EXPECT_EQ(pipe2(toHost, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(fromHost, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toHost[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromHost[1], 1);
        const std::string err = folder.file("stderr");
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> settings{"ZELVORN_REGISTRY_USER=" + folder.file("user.json"),
                                          "ZELVORN_REGISTRY_MACHINE=" + folder.file("machine.json")};
        std::vector<char*> env;
        for (auto& setting : settings)
            env.push_back(setting.data());
        for (char** inherited = environ; *inherited; ++inherited)
            env.push_back(*inherited);
        env.push_back(nullptr);
        std::string program = ZV_BINARY_DIR "/app/zelvorn", command = "stdio";
        char* argv[] = {program.data(), command.data(), nullptr};
        EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, env.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(toHost[0]);
        close(fromHost[1]);
        in = toHost[1];
        out = fromHost[0];
    }

    ~LiveHost()
    {
        finish();
        close(out);
    }

    void write(const std::string& bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(in, bytes.data() + done, bytes.size() - done);
            ASSERT_GT(n, 0) << "the host stopped reading";
            done += static_cast<size_t>(n);
        }
    }

    // Standard output once it holds `count` lines (or after 30 s without them).
    std::string awaitLines(size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::count(received.begin(), received.end(), '\n') < static_cast<long>(count) &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd ready{out, POLLIN, 0};
            if (poll(&ready, 1, 100) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(out, buffer, sizeof buffer);
            if (n <= 0)
                break;
            received.append(buffer, static_cast<size_t>(n));
        }
        return received;
    }

    // The host's peak resident memory so far (VmHWM), in bytes.
    size_t peakMemory() const
    {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM:", 0) == 0)
                return std::stoul(line.substr(6)) * 1024;
        return 0;
    }

    // Ends the input and returns the exit status.
    int finish()
    {
        if (in >= 0) {
            close(in);
            in = -1;
            waitpid(pid, &status, 0);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid = -1;
    int in = -1;
    int out = -1;
    int status = -1;
    std::string received;
};

}  // namespace

// `zelvorn stdio` reaches its control only through the registration: registered for the user
// it runs, unregistered it says which command fixes it.
TEST(StdioHost, CreatesItsControlThroughTheRegistry)
{
    TempFolder folder;
    Outcome run = zelvorn(folder, "stdio", "{\"name\":\"nonsense\"}\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Dravik.DownloaderPartition is not registered; run: zelvorn register --user"),
              std::string::npos)
        << run.err;

    run = zelvorn(folder, "register --user");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("registered"), std::string::npos);
    EXPECT_NE(TempFolder::readFile(folder.path() / "user.json").find("libzelvorn2.so"), std::string::npos);

    run = zelvorn(folder, "stdio", "{\"name\":\"nonsense\"}\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");

    run = zelvorn(folder, "register --user --unregister");
    ASSERT_EQ(run.status, 0) << run.err;
    run = zelvorn(folder, "stdio", "{\"name\":\"nonsense\"}\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("run: zelvorn register --user"), std::string::npos) << run.err;
}

TEST(StdioHost, FailuresGiveMessagesAndExitCodes)
{
    TempFolder folder;
    EXPECT_EQ(zelvorn(folder, "register --bogus").status, 2);
    Outcome run = zelvorn(folder, "register --user '" + (folder.path() / "missing.so").string() + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot load"), std::string::npos) << run.err;

    folder.writeFile("user.json", "corrupt");
    run = zelvorn(folder, "stdio", "{\"name\":\"nonsense\"}\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("registry file is corrupt"), std::string::npos) << run.err;
}

TEST(StdioHost, EachEventIsOneLine)
{
    TempFolder folder;
    ASSERT_EQ(zelvorn(folder, "register --user").status, 0);
    const Outcome run = zelvorn(folder, "stdio",
                                "{\"name\":\"init\",\"config\":{\"ThreadCount\":2}}\r\n"
                                "not json\n"
                                "{\"name\":\"init\",\"config\":{\"Folder\":\"/tmp/下载\"}}");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}\n"
                       "{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}\n");
}

// A line over 16 MiB is skipped as it streams past, never held whole; the lines around it are
// handled. Each long line is a well-formed "init", so handling it would show as an event.
TEST(StdioHost, SkipsOverlongLinesWithoutHoldingThem)
{
    signal(SIGPIPE, SIG_IGN);  // a host that died must fail the test, not end it
    TempFolder folder;
    ASSERT_EQ(zelvorn(folder, "register --user").status, 0);
    const std::string loaded = "{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}\n";
    const auto longInit = [](size_t mebibytes) {
        return "{\"name\":\"init\",\"config\":{\"Cookie\":\"" + std::string(mebibytes << 20, 'c') + "\"}}\n";
    };
    const std::string good = "{\"name\":\"init\",\"config\":{\"ThreadCount\":2}}\n";

    LiveHost host(folder);
    host.write(good);
    ASSERT_EQ(host.awaitLines(1), loaded);
    const size_t before = host.peakMemory();
    ASSERT_GT(before, 0u);
    host.write(longInit(20));
    host.write(good);
    host.write(longInit(40));
    host.write(good);
    EXPECT_EQ(host.awaitLines(3), loaded + loaded + loaded);
    const size_t peak = host.peakMemory();
    // Lines whose ends straddle the edges of the pieces the host reads in: a byte lost or
    // repeated there breaks the JSON of the tail.
    const std::string head = "{\"name\":\"init\",\"config\":{", tail = "\"ThreadCount\":2}}";
    for (size_t length : {65535, 65536, 65537, 131071, 131072})
        host.write(head + std::string(length - head.size() - tail.size(), ' ') + tail + "\n");
    std::string expected;
    for (int n = 0; n < 8; ++n)
        expected += loaded;
    EXPECT_EQ(host.awaitLines(8), expected);
    EXPECT_EQ(host.finish(), 0);
    EXPECT_EQ(TempFolder::readFile(folder.path() / "stderr"),
              "zelvorn: line 2 skipped: longer than 16777216 bytes\n"
              "zelvorn: line 4 skipped: longer than 16777216 bytes\n");
// Not under the sanitizers: AddressSanitizer's quarantine keeps freed blocks resident, and
// ThreadSanitizer's shadow memory grows with every byte the host touches.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Room for a line at the limit, and slack; far below either long line.
    EXPECT_LT(peak - before, size_t{24} << 20) << "peak " << peak << " bytes, " << before << " before the long lines";
#endif
}
