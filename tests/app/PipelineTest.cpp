// The first example of the README, run for real: a shell pipeline feeds `zelvorn stdio` the
// commands that download a file and a folder from nginx.
#include "common/NginxServer.h"
#include "common/TempFolder.h"
#include "support/JsonText.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <regex>
#include <sstream>

namespace {

std::vector<Json::Value> parseLines(const std::string& text)
{
    std::vector<Json::Value> events;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        Json::Value event;
        EXPECT_TRUE(parseJson(line, event)) << line;
        events.push_back(event);
    }
    return events;
}

}  // namespace

TEST(Pipeline, DownloadsAFileAndAFolderThroughStdio)
{
    TempFolder site, work;
    const std::string big = TempFolder::pattern(3 * 1024 * 1024 + 5);
    const std::string a = TempFolder::pattern(40000), b = TempFolder::pattern(123);
    site.writeFile("setup.bin", big);
    site.writeFile("docs/a.txt", a);
    site.writeFile("docs/sub/b.txt", b);
    NginxServer nginx(site.path().string());
    const std::string downloads = (work.path() / "downloads").string();

    const std::string commands =
        "{\"name\":\"init\",\"config\":{\"Folder\":\"" + downloads +
        "\",\"ThreadCount\":2}}\n"
        "{\"name\":\"add_file\",\"id\":1,\"fileUrl\":\"" +
        nginx.url("/setup.bin") +
        "\"}\n"
        "{\"name\":\"add_folder\",\"id\":2,\"nameLoc\":\"docs\",\"pathLoc\":\"D:\\\\share\\\\docs\",\"lenSvr\":40123,"
        "\"files\":[{\"pathLoc\":\"D:\\\\share\\\\docs\\\\a.txt\",\"fileUrl\":\"" +
        nginx.url("/docs/a.txt") +
        "\",\"lenSvr\":40000},{\"pathLoc\":\"D:\\\\share\\\\docs\\\\sub\\\\b.txt\",\"fileUrl\":\"" +
        nginx.url("/docs/sub/b.txt") +
        "\",\"lenSvr\":123}]}\n"
        "{\"name\":\"start_queue\"}\n";
    work.writeFile("commands.jsonl", commands);
    const std::string env = "ZELVORN_REGISTRY_USER='" + (work.path() / "user.json").string() +
                            "' ZELVORN_REGISTRY_MACHINE='" + (work.path() / "machine.json").string() + "' ";
    const std::string zelvorn = env + "'" ZV_BINARY_DIR "/app/zelvorn' ";
    ASSERT_EQ(std::system((zelvorn + "register --user >/dev/null").c_str()), 0);
    const std::string pipeline = "cat '" + (work.path() / "commands.jsonl").string() + "' | " + zelvorn + "stdio > '" +
                                 (work.path() / "events.jsonl").string() + "'";
    const int status = std::system(pipeline.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(TempFolder::readFile(work.path() / "downloads" / "setup.bin"), big);
    EXPECT_EQ(TempFolder::readFile(work.path() / "downloads" / "docs" / "a.txt"), a);
    EXPECT_EQ(TempFolder::readFile(work.path() / "downloads" / "docs" / "sub" / "b.txt"), b);

    const auto events = parseLines(TempFolder::readFile(work.path() / "events.jsonl"));
    std::string file, folder, queue, lastOfFile;  // consecutive down_process of the file folded
    for (const auto& event : events) {
        const std::string name = event["name"].asString();
        if (!event.isMember("id"))
            queue += name + " ";
        else if (event["id"].asInt() == 1 && !(name == "down_process" && lastOfFile == name))
            file += (lastOfFile = name) + " ";
        else if (event["id"].asInt() == 2 && name != "down_process")
            folder += name + " ";
    }
    EXPECT_EQ(queue, "load_complete queue_begin queue_complete queue_end ");
    EXPECT_TRUE(std::regex_match(file, std::regex("down_process down_recv_size down_recv_name down_begin "
                                                  "(down_process |down_part )*down_complete ")))
        << file;
    EXPECT_EQ(folder,
              "init_end down_begin down_recv_name down_begin down_complete down_recv_name down_begin "
              "down_complete down_complete ");
}
