#include "support/JsonText.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct RunResult {
    int exitCode = -1;
    std::string output;
};

// Runs `zelvorn stdio` with `input` on its standard input.
RunResult runStdio(const std::string& input)
{
    const std::string command = "printf '%s' '" + input + "' | " ZV_BINARY_DIR "/app/zelvorn stdio";
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace

TEST(StdioHost, UnknownCommandsExitCleanlyWithoutOutput)
{
    const RunResult run = runStdio("{\"name\":\"nonsense\"}\n{}\nnot json\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "");
}

TEST(StdioHost, EachEventIsOneLine)
{
    const RunResult run = runStdio("{\"name\":\"init\",\"config\":{\"ThreadCount\":2}}\r\n"
                                   "{\"name\":\"init\",\"config\":{\"Folder\":\"/tmp/下载\"}}");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}\n"
                          "{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}\n");
}
