#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

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
