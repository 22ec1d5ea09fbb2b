// SIGINT ends `zelvorn stdio` in order: the queue is stopped, the running job reports its end,
// then the process exits.
#include "common/FixtureServer.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern char** environ;

TEST(StdioSignal, InterruptStopsTheQueueAndWaitsForTheJob)
{
    TempFolder work;
    FixtureServer server;
    FixtureResponse stalled = FixtureResponse::file(std::string(100000, 's'));
    stalled.stall = FixtureResponse::Stall::afterHeaders;
    server.on("/stall", stalled);
    const std::string registry = "ZELVORN_REGISTRY_USER='" + (work.path() / "user.json").string() +
                                 "' ZELVORN_REGISTRY_MACHINE='" + (work.path() / "machine.json").string() + "' ";
    ASSERT_EQ(std::system((registry + "'" ZV_BINARY_DIR "/app/zelvorn' register --user >/dev/null").c_str()), 0);

    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string user = "ZELVORN_REGISTRY_USER=" + (work.path() / "user.json").string();
    const std::string machine = "ZELVORN_REGISTRY_MACHINE=" + (work.path() / "machine.json").string();
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        env.push_back(*e);
    env.push_back(const_cast<char*>(user.c_str()));
    env.push_back(const_cast<char*>(machine.c_str()));
    env.push_back(nullptr);
    char program[] = ZV_BINARY_DIR "/app/zelvorn";
    char command[] = "stdio";
    char* argv[] = {program, command, nullptr};
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, program, &actions, nullptr, argv, env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);

    const std::string commands = "{\"name\":\"add_file\",\"id\":4,\"fileUrl\":\"" + server.url("/stall") +
                                 "\",\"pathLoc\":\"" + (work.path() / "f.bin").string() +
                                 "\"}\n{\"name\":\"start_queue\"}\n";
    ASSERT_EQ(write(in[1], commands.data(), commands.size()), ssize_t(commands.size()));
    FILE* events = fdopen(out[0], "r");
    std::string seen;
    char line[8192];
    while (seen.find("down_begin") == std::string::npos && fgets(line, sizeof line, events))
        seen += line;
    ASSERT_NE(seen.find("down_begin"), std::string::npos) << seen;

    kill(child, SIGINT);  // standard input is still open: only the signal ends the host
    while (fgets(line, sizeof line, events))
        seen += line;
    int status = 0;
    waitpid(child, &status, 0);
    fclose(events);
    close(in[1]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
    EXPECT_NE(seen.find("{\"id\":4,\"name\":\"down_stoped\"}"), std::string::npos) << seen;
    EXPECT_NE(seen.find("{\"name\":\"queue_end\"}"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("queue_complete"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("down_error"), std::string::npos) << seen;
}
