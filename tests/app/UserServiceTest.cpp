// `zelvorn serve --install-user-service` as a user who built zelvorn runs it: the unit it writes
// is one systemd accepts and names this executable wherever it lies, systemctl (a stand-in that
// notes its arguments) is asked to enable and start it, and --remove-user-service takes it away.
// The unit's command line serves pages, and the SIGTERM with which systemd stops it leaves every
// download resumable.
#include "PageClient.h"
#include "SavedTasks.h"
#include "ServeProcess.h"
#include "ZelvornProcess.h"
#include "common/NginxServer.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class UserService : public ::testing::Test {
protected:
    // Runs `zelvorn serve <option>` (the built zelvorn, or `program`) with the stand-in systemctl.
    int serveOption(const std::string& option, const fs::path& program = {})
    {
        ZelvornProcess::Options options;
        options.program = program.string();
        options.environment = {{"PATH", (work.path() / "bin").string() + ":" + std::getenv("PATH")}};
        ZelvornProcess run(work, {"serve", option}, options);
        const int status = run.wait();
        EXPECT_EQ(run.err(), "") << option;
        return status;
    }

    // The unit's ExecStart line.
    std::string execStart() const
    {
        std::istringstream lines(TempFolder::readFile(unit));
        std::string line;
        while (std::getline(lines, line) && line.rfind("ExecStart=", 0) != 0) {
        }
        return line;
    }

    std::string systemctlCalls() const { return TempFolder::readFile(work.file("systemctl.log")); }

    void SetUp() override
    {
        work.writeFile("bin/systemctl", "#!/bin/sh\necho \"$*\" >> '" + work.file("systemctl.log") + "'\n");
        fs::permissions(work.path() / "bin/systemctl", fs::perms::owner_all);
    }

    TempFolder work;
    const fs::path unit = work.path() / "config/systemd/user/zelvorn.service";
};

}  // namespace

TEST_F(UserService, InstallWritesAUnitSystemdAcceptsAndRemoveTakesItAway)
{
    // The executable, its module and its platform layer in a folder whose name systemd would
    // misread unquoted.
    const fs::path tools = work.path() / "my tools 100%";
    fs::create_directories(tools);
    for (const char* name : {"zelvorn", "libzelvorn2.so", "libzv_platform.so"}) {
        std::error_code linked;
        fs::create_hard_link(ZV_BINARY_DIR "/app/" + std::string(name), tools / name, linked);
        if (linked)
            fs::copy_file(ZV_BINARY_DIR "/app/" + std::string(name), tools / name);
    }
    ASSERT_EQ(serveOption("--install-user-service", tools / "zelvorn"), 0);
    EXPECT_EQ(systemctlCalls(), "--user daemon-reload\n--user enable --now zelvorn.service\n");
    // Quoted, "%" doubled; systemd's own reading of the unit finds the program it names.
    EXPECT_EQ(execStart(), "ExecStart=\"" + work.path().string() + "/my tools 100%%/zelvorn\" serve");
    const std::string verify = "XDG_RUNTIME_DIR='" + work.path().string() +
                               "' systemd-analyze verify --man=no --user '" + unit.string() + "' 2>&1";
    EXPECT_EQ(std::system(verify.c_str()), 0) << TempFolder::readFile(unit);

    fs::remove(work.file("systemctl.log"));
    ASSERT_EQ(serveOption("--remove-user-service"), 0);
    EXPECT_FALSE(fs::exists(unit));
    EXPECT_EQ(systemctlCalls(), "--user disable --now zelvorn.service\n--user daemon-reload\n");
    EXPECT_EQ(serveOption("--remove-user-service"), 0) << "nothing left to remove is no failure";

    ZelvornProcess wrong(work, {"serve", "--install-user-service", "--port", "1"});
    EXPECT_EQ(wrong.wait(), 2);
    EXPECT_NE(wrong.err().find("usage: zelvorn serve --install-user-service"), std::string::npos) << wrong.err();
}

TEST_F(UserService, TheUnitsServeStopsOnSigtermLeavingEveryDownloadResumable)
{
    ASSERT_EQ(serveOption("--install-user-service"), 0);
    // What ServeProcess runs, but for the free port it asks for.
    ASSERT_EQ(execStart(), "ExecStart=\"" ZV_BINARY_DIR "/app/zelvorn\" serve");

    TempFolder site;
    std::map<int, std::string> bodies;
    SavedTasks saved;
    for (int id = 1; id <= 3; ++id) {
        bodies[id] = TempFolder::pattern(1536 * 1024 + static_cast<size_t>(id));
        site.writeFile("f" + std::to_string(id) + ".bin", bodies[id]);
    }
    // Slow enough that every download is still running when systemd stops the service.
    NginxServer nginx(site.path(), true, 256 * 1024);
    for (const auto& body : bodies)
        saved.add(SavedTasks::fileTask(body.first, nginx.url("/f" + std::to_string(body.first) + ".bin")));
    const std::string downloads = work.file("downloads");

    // Runs the unit's command line (on a free port), sends the page's commands and reads its
    // events until `enough` says so or the page is closed; gives every event line read.
    const auto session = [&](const std::function<bool()>& enough, bool stopService) {
        ServeProcess serve({}, {{"XDG_DOWNLOAD_DIR", work.path().string()}});
        PageClient page(serve.port(), serve.origin());
        EXPECT_TRUE(page.open()) << serve.errors();
        std::istringstream commands(saved.commands(downloads));
        for (std::string line; std::getline(commands, line);)
            page.send(line);
        std::string events;
        const auto done = [&] { return enough() || !saved.errors.empty(); };
        for (auto event = page.read(); event; event = done() ? std::nullopt : page.read()) {
            events += *event;
            saved.read(*event);
        }
        if (stopService) {
            EXPECT_EQ(serve.stop(), 0) << serve.errors();
            // What the stop told the page before the service ended.
            for (auto event = page.read(); event; event = page.read()) {
                events += *event;
                saved.read(*event);
            }
        }
        return events;
    };
    const auto allStarted = [&] {
        for (const auto& body : bodies)
            if (saved.task(body.first).get("lenLoc", 0).asInt64() == 0)
                return false;
        return true;
    };
    const std::string stopped = session(allStarted, true);
    std::map<int, int64_t> stoppedAt;
    for (const auto& body : bodies) {
        EXPECT_NE(stopped.find("{\"id\":" + std::to_string(body.first) + ",\"name\":\"down_stoped\"}"),
                  std::string::npos)
            << stopped;
        stoppedAt[body.first] = saved.task(body.first)["lenLoc"].asInt64();
    }
    EXPECT_TRUE(saved.partWay());
    EXPECT_FALSE(saved.finished());
    saved.expectAllOnDisk();

    // The next start of the service finishes each download with a request for the rest only.
    session([&] { return saved.finished(); }, false);
    EXPECT_TRUE(saved.finished());
    for (const auto& error : saved.errors)
        ADD_FAILURE() << error;
    const std::string requests = TempFolder::readFile(nginx.accessLog());
    for (const auto& body : bodies) {
        EXPECT_TRUE(TempFolder::readFile(saved.path(body.first)) == body.second) << saved.path(body.first);
        const std::string resumed = "GET /f" + std::to_string(body.first) +
                                    ".bin HTTP/1.1 bytes=" + std::to_string(stoppedAt[body.first]) + "-";
        EXPECT_NE(requests.find(resumed), std::string::npos) << resumed << " missing from:\n" << requests;
    }
}
