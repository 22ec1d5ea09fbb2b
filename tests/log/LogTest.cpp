#include "common/TempFolder.h"
#include "log/Log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> readLines(const fs::path& file)
{
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class LogFile : public ::testing::Test {
protected:
    TempFolder temp;
    const fs::path& dir = temp.path();
};

const std::regex kLine(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d    - (.*) \[(.+):(\d+)\]$)");

}  // namespace

// Each test runs in its own process, so the log starts switched off in every one.
TEST_F(LogFile, NothingIsWrittenWithoutDebugOrPath)
{
    ZLOG("before set-up " << 1);
    Log::instance().setUp(false, (dir / "a.log").wstring());
    Log::instance().setUp(true, L"");
    ZLOG("still off");
    EXPECT_FALSE(Log::instance().logger().isEnabledFor(log4cplus::DEBUG_LOG_LEVEL));
    EXPECT_FALSE(fs::exists(dir / "a.log"));
}

TEST_F(LogFile, ExactLayoutInANewDirectory)
{
    const fs::path file = dir / "deep" / "er" / "zelvorn.log";
    Log::instance().setUp(true, file.wstring());
    const int line = __LINE__ + 1;
    ZLOG("连接服务器错误" << 12029);
    const auto lines = readLines(file);
    ASSERT_EQ(lines.size(), 2u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
    EXPECT_EQ(m[1], "日志创建成功");
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine)) << lines[1];
    EXPECT_EQ(m[1], "连接服务器错误12029");
    const std::string source = m[2];
    EXPECT_EQ(fs::path(source).filename(), "LogTest.cpp") << source;
    EXPECT_EQ(std::stoi(m[3]), line);
}

TEST_F(LogFile, RepeatedSetUpTruncatesAndWritesEachRecordOnce)
{
    const fs::path file = dir / "z.log";
    Log::instance().setUp(true, file.wstring());
    ZLOG("first run");
    Log::instance().setUp(true, file.wstring());
    ZLOG("second run");
    const auto lines = readLines(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("日志创建成功"), std::string::npos);
    EXPECT_NE(lines[1].find("second run"), std::string::npos);
}

TEST_F(LogFile, StatementsFromManyThreadsNeverInterleave)
{
    const fs::path file = dir / "threads.log";
    Log::instance().setUp(true, file.wstring());
    constexpr int kThreads = 8, kRecords = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            const std::string payload(200, static_cast<char>('a' + t));
            for (int i = 0; i < kRecords; ++i)
                ZLOG("线程" << t << ":" << i << ":" << payload);
        });
    for (auto& th : threads)
        th.join();
    const auto lines = readLines(file);
    ASSERT_EQ(lines.size(), 1u + kThreads * kRecords);
    const std::regex body(R"(^线程(\d):(\d+):([a-h]{200})$)");
    std::vector<int> next(kThreads, 0);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, kLine)) << lines[i];
        const std::string message = m[1];
        std::smatch b;
        ASSERT_TRUE(std::regex_match(message, b, body)) << message;
        const int t = std::stoi(b[1]);
        EXPECT_EQ(std::string(b[3]), std::string(200, static_cast<char>('a' + t)));
        EXPECT_EQ(std::stoi(b[2]), next[t]++);  // each thread's records in its own order
    }
}
