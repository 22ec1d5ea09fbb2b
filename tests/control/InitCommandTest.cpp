#include "PageHarness.h"

#include "common/TempFolder.h"
#include "component/Config.h"
#include "component/TaskMgr.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>

namespace {

std::shared_ptr<DownItem> task(int id)
{
    auto item = std::make_shared<DownItem>();
    item->id = id;
    return item;
}

}  // namespace

TEST(InitCommand, AppliesTheConfigurationAndAnswersLoadComplete)
{
    PageHarness page;
    TaskMgr::instance().addTask(task(4));
    page.post(
        R"({"name":"init","config":{"Folder":"D:\\下载","Cookie":"sid=1; a=b","ThreadCount":2,"FilePart":4096}})");
    ASSERT_EQ(page.texts(), std::vector<std::string>{
                                "{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}\n"});
    Config& config = Config::instance();
    EXPECT_EQ(config.folder(), L"D:\\下载");
    EXPECT_EQ(config.cookie(), "sid=1; a=b");
    EXPECT_EQ(config.threadCount.load(), 2);
    EXPECT_EQ(config.filePart.load(), 4096);
    EXPECT_EQ(TaskMgr::instance().takeNextTask(), nullptr);  // pending tasks dropped

    // Omitted keys return to their defaults; the thread count is capped at 5.
    page.post(R"({"name":"init","config":{"Debug":false,"ThreadCount":9}})");
    EXPECT_EQ(config.folder(), L"");
    EXPECT_EQ(config.cookie(), "");
    EXPECT_EQ(config.threadCount.load(), 5);
    EXPECT_EQ(config.filePart.load(), 0x100000);
    page.post(R"({"name":"init","config":{"ThreadCount":5}})");
    EXPECT_EQ(config.threadCount.load(), 5);
    EXPECT_EQ(page.texts().size(), 3u);
}

TEST(InitCommand, AConfigThatIsNoObjectChangesNothingAndMistypedSettingsTakeTheirDefaults)
{
    PageHarness page;
    page.post(R"({"name":"init","config":{"Cookie":"keep","ThreadCount":3}})");
    ASSERT_EQ(page.texts().size(), 1u);
    for (const char* text : {R"({"name":"init"})", R"({"name":"init","config":{}})", R"({"name":"init","config":[]})",
                             R"({"name":"init","config":null})", R"({"name":"init","config":[1,2]})",
                             R"({"name":"init","config":"Folder"})"})
        page.post(text);
    EXPECT_EQ(page.texts().size(), 1u);
    EXPECT_EQ(Config::instance().cookie(), "keep");
    EXPECT_EQ(Config::instance().threadCount.load(), 3);

    // A member of the wrong type counts as absent: the page still gets "load_complete".
    page.post(R"({"name":"init","config":{"ThreadCount":"4","Cookie":"c"}})");
    EXPECT_EQ(page.texts().size(), 2u);
    EXPECT_EQ(Config::instance().threadCount.load(), 1);
    EXPECT_EQ(Config::instance().cookie(), "c");
    page.post(R"({"name":"init","config":{"Folder":["a"],"ThreadCount":4,"Debug":"yes"}})");
    EXPECT_EQ(Config::instance().threadCount.load(), 4);
    EXPECT_EQ(Config::instance().folder(), L"");
    page.post(R"({"name":"init","config":{"ThreadCount":1e12,"FilePart":-1e12}})");
    EXPECT_EQ(Config::instance().threadCount.load(), 5);
    EXPECT_EQ(Config::instance().filePart.load(), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(page.texts().size(), 4u);
}

TEST(InitCommand, DebugWithALogFileOpensTheLog)
{
    TempFolder dir;
    const std::string log = (dir.path() / "logs" / "zelvorn.log").string();
    PageHarness page;
    page.post(R"({"name":"init","config":{"Debug":true}})");
    page.post(R"({"name":"init","config":{"LogFile":")" + log + R"("}})");
    EXPECT_FALSE(std::filesystem::exists(log));
    page.post(R"({"name":"init","config":{"Debug":true,"LogFile":")" + log + R"("}})");
    std::ifstream in(log);
    std::string first;
    std::getline(in, first);
    EXPECT_NE(first.find("日志创建成功"), std::string::npos) << first;
    EXPECT_EQ(page.texts().size(), 3u);
}
