// `zelvorn native` fed the frames a browser writes: commands in, events out, and what it does
// with frames that are malformed, cut short or beyond the size limits.
#include "ZelvornProcess.h"
#include "common/FixtureServer.h"
#include "common/NginxServer.h"
#include "common/TempFolder.h"
#include "support/JsonText.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

namespace {

const size_t kCommandLimit = 16 * 1024 * 1024;  // what the host takes from a browser
const size_t kEventLimit = 1024 * 1024;         // what a browser takes from its host

std::string frame(const std::string& body)
{
    const uint32_t length = static_cast<uint32_t>(body.size());
    char prefix[sizeof length];
    std::memcpy(prefix, &length, sizeof length);
    return std::string(prefix, sizeof prefix) + body;
}

// The bodies of the frames in `bytes`; a trailing partial frame fails the test.
std::vector<std::string> bodies(const std::string& bytes)
{
    std::vector<std::string> found;
    for (size_t at = 0; at < bytes.size();) {
        uint32_t length = 0;
        EXPECT_LE(at + sizeof length, bytes.size());
        std::memcpy(&length, bytes.data() + at, sizeof length);
        at += sizeof length;
        EXPECT_LE(at + length, bytes.size());
        found.push_back(bytes.substr(at, length));
        at += length;
    }
    return found;
}

std::vector<std::string> names(const std::vector<std::string>& events)
{
    std::vector<std::string> found;
    for (const auto& event : events) {
        Json::Value value;
        EXPECT_TRUE(parseJson(event, value)) << event;
        found.push_back(value["name"].asString());
    }
    return found;
}

class NativeHost : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ZelvornProcess::registerControl(work)); }

    // Runs `zelvorn native` on `input` to its end; `arguments` are what a browser adds.
    ZelvornProcess& native(const std::string& input, std::vector<std::string> arguments = {},
                           std::map<std::string, std::string> environment = {})
    {
        ZelvornProcess::Options options;
        options.input = input;
        options.environment = std::move(environment);
        arguments.insert(arguments.begin(), "native");
        runs.push_back(std::make_unique<ZelvornProcess>(work, arguments, options));
        return *runs.back();
    }

    std::string init(const std::string& cookie = "") const
    {
        return "{\"name\":\"init\",\"config\":{\"Folder\":\"" + work.file("out") + "\",\"Cookie\":\"" + cookie + "\"}}";
    }

    TempFolder work;
    std::vector<std::unique_ptr<ZelvornProcess>> runs;
};

const std::string kLoaded = "{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}";

}  // namespace

TEST_F(NativeHost, RoundTripsCommandsAndEvents)
{
    FixtureServer server;
    const std::string body = TempFolder::pattern(70000);
    server.on("/f.bin", FixtureServer::rangedFile(body));
    const std::string input = frame(init()) +
                              frame("{\"name\":\"add_file\",\"id\":5,\"fileUrl\":\"" + server.url("/f.bin") + "\"}") +
                              frame("{\"name\":\"start_queue\"}");
    // Chrome names the calling extension's origin; Firefox the manifest and the extension's id.
    for (const auto& arguments : {std::vector<std::string>{"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
                                  std::vector<std::string>{"/x/com.dravik.zelvorn.json", "zel@example.org"}}) {
        ZelvornProcess& run = native(input, arguments);
        ASSERT_EQ(run.wait(), 0) << run.err();
        EXPECT_EQ(run.err(), "");
        const auto events = bodies(run.out());
        ASSERT_GE(events.size(), 4u);
        EXPECT_EQ(events.front(), kLoaded);
        auto seen = names(events);
        seen.erase(std::remove(seen.begin(), seen.end(), "down_process"), seen.end());
        EXPECT_EQ(seen, (std::vector<std::string>{"load_complete", "queue_begin", "down_recv_size", "down_recv_name",
                                                  "down_begin", "down_complete", "queue_complete", "queue_end"}));
        EXPECT_EQ(TempFolder::readFile(work.path() / "out" / (runs.size() == 1 ? "f.bin" : "f (1).bin")), body);
    }

    // An extension writes only below the folders the user allows: a folder elsewhere is refused
    // until the user's settings name it.
    TempFolder elsewhere;
    const std::string outside = "{\"name\":\"init\",\"config\":{\"Folder\":\"" + elsewhere.path().string() + "\"}}";
    const std::string rest = input.substr(frame(init()).size());
    ZelvornProcess& refused = native(frame(outside) + rest);
    ASSERT_EQ(refused.wait(), 0);
    EXPECT_NE(refused.err().find("is not one the user allowed"), std::string::npos) << refused.err();
    EXPECT_NE(refused.out().find("\"code\":2"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
    work.writeFile("config/zelvorn/settings.json", "{\"downloadRoots\":[\"" + elsewhere.path().string() + "\"]}");
    ZelvornProcess& allowed = native(frame(outside) + rest);
    ASSERT_EQ(allowed.wait(), 0);
    EXPECT_EQ(TempFolder::readFile(elsewhere.path() / "f.bin"), body);

    // A folder the user picks (in a stand-in for zenity) is remembered beside the other settings;
    // a settings file the host cannot read is left for the user to mend, never written over.
    TempFolder bin, picked;
    bin.writeFile("zenity", "#!/bin/sh\necho '" + picked.path().string() + "'\n");
    chmod(bin.file("zenity").c_str(), 0755);
    const std::map<std::string, std::string> desktop{{"DISPLAY", ":7"},
                                                     {"PATH", bin.path().string() + ":" + std::getenv("PATH")}};
    const std::string pick = frame(init()) + frame("{\"name\":\"open_folder\"}");
    ZelvornProcess& remembered = native(pick, {"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"}, desktop);
    ASSERT_EQ(remembered.wait(), 0);
    EXPECT_NE(remembered.out().find(picked.path().string()), std::string::npos) << remembered.out();
    const std::string settings = TempFolder::readFile(work.file("config/zelvorn/settings.json"));
    EXPECT_NE(settings.find(elsewhere.path().string()), std::string::npos) << settings;
    EXPECT_NE(settings.find("\"downloadRoots\":[\"" + picked.path().string()), std::string::npos) << settings;
    const std::string damaged = "{\"downloadRoots\":[\"" + elsewhere.path().string() + "\"],";
    work.writeFile("config/zelvorn/settings.json", damaged);
    ZelvornProcess& kept = native(pick, {"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"}, desktop);
    ASSERT_EQ(kept.wait(), 0);
    EXPECT_NE(kept.err().find("is not remembered"), std::string::npos) << kept.err();
    EXPECT_EQ(TempFolder::readFile(work.file("config/zelvorn/settings.json")), damaged);
}

// Commands up to 16 MiB are taken, longer ones read past; events up to the 1 MiB a browser takes
// are sent, longer ones held back; either way the host goes on.
TEST_F(NativeHost, MessagesAtTheSizeLimits)
{
    const std::string padded = init("%");
    const auto initOf = [&](size_t size) { return init(std::string(size - padded.size() + 1, 'c')); };
    // An "init_end" grows byte for byte with its file's URL: measure one, then size two to the limit.
    const auto folder = [](const std::string& name, size_t urlLength) {
        const std::string url = "http://127.0.0.1:1/" + std::string(urlLength - 19, 'u');
        return "{\"name\":\"add_folder\",\"id\":1,\"nameLoc\":\"" + name +
               "\",\"pathLoc\":\"\",\"lenSvr\":1,"
               "\"files\":[{\"pathLoc\":\"a\",\"fileUrl\":\"" +
               url + "\",\"lenSvr\":1}]}";
    };
    ZelvornProcess& probe = native(frame(init()) + frame(folder("f1", 100)));
    ASSERT_EQ(probe.wait(), 0) << probe.err();
    const auto measured = bodies(probe.out());
    ASSERT_EQ(measured.size(), 2u);
    const size_t atLimit = 100 + kEventLimit - measured[1].size();

    ZelvornProcess& run = native(frame(initOf(kCommandLimit)) + frame(initOf(kCommandLimit + 1)) +
                                 frame(folder("f2", atLimit)) + frame(folder("f3", atLimit + 1)) + frame(init()));
    ASSERT_EQ(run.wait(), 0) << run.err();
    const auto events = bodies(run.out());
    ASSERT_EQ(names(events), (std::vector<std::string>{"load_complete", "init_end", "load_complete"}));
    EXPECT_EQ(events[1].size(), kEventLimit);
    EXPECT_EQ(run.err().find("zelvorn: message 2 refused: 16777217 bytes, more than 16777216\n"), 0u);
    EXPECT_NE(run.err().find("zelvorn: event not sent: 1048577 bytes, more than the 1048576 a browser accepts"),
              std::string::npos)
        << run.err().substr(0, 300);
}

TEST_F(NativeHost, RefusesMalformedFramesAndEndsOnATruncatedOne)
{
    const std::string malformed = frame("not json") + frame("[1,2]") + frame("{\"name\":\"init\xff\"}") + frame("") +
                                  frame(std::string("{\"name\":\"init\"}\0{", 17));
    const std::string refused =
        "zelvorn: message 1 refused: not a JSON object\n"
        "zelvorn: message 2 refused: not a JSON object\n"
        "zelvorn: message 3 refused: not UTF-8 text without NUL\n"
        "zelvorn: message 4 refused: not a JSON object\n"
        "zelvorn: message 5 refused: not UTF-8 text without NUL\n";
    const std::string truncated = "zelvorn: the input ended inside message 7\n";
    const std::vector<std::pair<std::string, std::string>> ends{
        {"", ""},
        {frame(init()).substr(0, 20), truncated},  // inside a body
        {std::string("\x10\x00", 2), truncated},   // inside a length
        // A length far past the limit, then the end: read past, never held.
        {std::string("\xff\xff\xff\xff", 4) + std::string(1000, 'x'), truncated},
    };
    for (const auto& end : ends) {
        ZelvornProcess& run = native(malformed + frame(init()) + end.first);
        EXPECT_EQ(run.wait(), end.first.empty() ? 0 : 1);
        EXPECT_EQ(bodies(run.out()), (std::vector<std::string>{kLoaded}));
        EXPECT_EQ(run.err(), refused + end.second);
    }
}

// A browser that stops reading for a while holds up no download: the events wait for it, the
// progress of a task merged into its latest, every other event kept in order.
TEST_F(NativeHost, AClientThatStopsReadingHoldsUpNoDownload)
{
    // Far more events than a pipe and the control's own queue hold: four or more for each file.
    const size_t count = 2000;
    TempFolder site;
    std::string files;
    for (size_t i = 0; i < count; ++i) {
        site.writeFile(std::to_string(i), TempFolder::pattern(500));
        files += std::string(i ? "," : "") + "{\"pathLoc\":\"" + std::to_string(i) + "\",\"fileUrl\":\"URL/" +
                 std::to_string(i) + "\",\"lenSvr\":500}";
    }
    NginxServer nginx(site.path());
    files = std::regex_replace(files, std::regex("URL"), nginx.url(""));
    ZelvornProcess::Options options;
    options.pipes = true;
    ZelvornProcess& run =
        *runs.emplace_back(std::make_unique<ZelvornProcess>(work, std::vector<std::string>{"native"}, options));
    ASSERT_TRUE(run.write(frame(init()) +
                          frame("{\"name\":\"add_folder\",\"id\":7,\"nameLoc\":\"many\",\"pathLoc\":\"\",\"lenSvr\":" +
                                std::to_string(500 * count) + ",\"files\":[" + files + "]}") +
                          frame("{\"name\":\"start_queue\"}")));
    // Not a byte read meanwhile.
    const auto last = work.path() / "out" / "many" / std::to_string(count - 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::error_code error;
    while (std::filesystem::file_size(last, error) != 500 || error) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the download was held up";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.closeInput();
    std::string bytes;
    while (run.readBytes(std::chrono::seconds(20), bytes)) {
    }
    ASSERT_EQ(run.wait(), 0) << run.err();
    EXPECT_EQ(run.err(), "");
    const auto events = bodies(bytes);
    const auto seen = names(events);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "down_begin"), static_cast<long>(count + 1));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "down_complete"), static_cast<long>(count + 1));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "down_error"), 0);
    EXPECT_EQ(std::vector<std::string>(seen.end() - 3, seen.end()),
              (std::vector<std::string>{"down_complete", "queue_complete", "queue_end"}));
    // Within a task nothing is out of order: each file's events come after the end of the one
    // before, and none after its own end.
    int current = -1;
    bool ended = true;
    for (const auto& event : events) {
        Json::Value value;
        ASSERT_TRUE(parseJson(event, value));
        if (!value["file"]["id"].isInt())
            continue;
        const int file = value["file"]["id"].asInt();
        if (file != current) {
            EXPECT_GT(file, current) << event;
            EXPECT_TRUE(ended) << "file " << current << " had not ended: " << event;
            current = file;
        } else {
            EXPECT_FALSE(ended) << event;
        }
        ended = value["name"] == "down_complete";
    }
}
