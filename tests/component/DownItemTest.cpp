#include "component/DownItem.h"
#include "support/JsonText.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <limits>
#include <memory>
#include <thread>

namespace {

Json::Value parse(const std::string& text)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::Reader reader;
    Json::Value value;
    EXPECT_TRUE(reader.parse(text, value)) << text;
#pragma GCC diagnostic pop
    return value;
}

std::shared_ptr<DownItem> read(const std::string& text)
{
    auto item = std::make_shared<DownItem>();
    item->fromJson(parse(text));
    return item;
}

int64_t lenLocOf(const std::string& member)
{
    return read("{\"lenLoc\":" + member + "}")->lenLoc;
}

}  // namespace

TEST(DownItem, ReadsEveryMemberOfATask)
{
    const auto item = read(R"({"id":12,"idSvr":34,"lenSvr":"1048576","lenLoc":4096,"pathLoc":"D:\\Down\\中.bin",)"
                           R"("nameLoc":"page.bin","nameCustom":"自定义.bin","fileUrl":"http://h/%E4.bin?a=1",)"
                           R"("complete":true,"fields":{"uid":"7","token":"x"}})");
    EXPECT_EQ(item->kind, 0);
    EXPECT_EQ(item->id, 12);
    EXPECT_EQ(item->idSvr, 34);
    EXPECT_EQ(item->lenSvr, 1048576);
    EXPECT_EQ(item->lenLoc, 4096);
    EXPECT_EQ(item->pathLoc, L"D:\\Down\\中.bin");
    EXPECT_EQ(item->nameLoc, L"page.bin");
    EXPECT_EQ(item->nameCustom, L"自定义.bin");
    EXPECT_EQ(item->fileUrl, "http://h/%E4.bin?a=1");
    EXPECT_TRUE(item->complete);
    EXPECT_EQ(item->nameSvr, L"");
}

TEST(DownItem, AbsentMembersLeaveTheEmptyRecord)
{
    const auto item = read("{}");
    EXPECT_EQ(item->id, 0);
    EXPECT_EQ(item->idSvr, 0);
    EXPECT_EQ(item->lenSvr, 0);
    EXPECT_EQ(item->lenLoc, 0);
    EXPECT_FALSE(item->complete);
    EXPECT_EQ(item->pathLoc, L"");
    EXPECT_EQ(item->fileUrl, "");
}

TEST(DownItem, LengthsFollowTheLengthRule)
{
    EXPECT_EQ(read(R"({"lenSvr":"1048576"})")->lenSvr, 1048576);
    EXPECT_EQ(lenLocOf("\"12abc\""), 12);
    EXPECT_EQ(lenLocOf("\" -5\""), -5);
    EXPECT_EQ(lenLocOf("\"\""), 0);
    EXPECT_EQ(lenLocOf("\"abc\""), 0);
    EXPECT_EQ(lenLocOf("-7"), -7);
    EXPECT_EQ(lenLocOf("12.0"), 12);
    EXPECT_EQ(lenLocOf("12.5"), 0);
    EXPECT_EQ(lenLocOf("true"), 0);
    EXPECT_EQ(lenLocOf("null"), 0);
    EXPECT_EQ(lenLocOf("[]"), 0);
    EXPECT_EQ(lenLocOf("[1]"), 0);
    EXPECT_EQ(lenLocOf("{\"a\":1}"), 0);
    EXPECT_EQ(lenLocOf("\"99999999999999999999\""), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(lenLocOf("99999999999999999999"), 0);
    EXPECT_EQ(lenLocOf("6442450944"), 6442450944);  // beyond 32 bits
}

TEST(DownItem, IdAndFlagConversions)
{
    EXPECT_EQ(read(R"({"id":7.9})")->id, 7);
    EXPECT_EQ(read(R"({"id":-3})")->id, -3);
    EXPECT_TRUE(read(R"({"complete":1})")->complete);
    EXPECT_FALSE(read(R"({"complete":0})")->complete);
}

TEST(DownItem, MembersOfAWrongTypeThrowAndAreNotQueued)
{
    const char* const wrong[] = {
        R"({"id":"7"})",          R"({"idSvr":"7"})",   R"({"id":4294967296})",
        R"({"pathLoc":{"a":1}})", R"({"fileUrl":[1]})", R"({"complete":"yes"})",
        R"({"fields":"text"})",   R"({"fields":[1]})",  R"({"fields":{"a":[1]}})",
    };
    for (const char* text : wrong) {
        DownItem item;
        EXPECT_THROW(item.fromJson(parse(text)), Json::LogicError) << text;
    }
}

TEST(DownItem, AConversionErrorStopsAtItsMember)
{
    // The lengths, idSvr and fileUrl are stored before "id" is read.
    DownItem item;
    EXPECT_THROW(item.fromJson(parse(R"({"lenLoc":5,"fileUrl":"u","id":"x","pathLoc":"p"})")), Json::LogicError);
    EXPECT_EQ(item.lenLoc, 5);
    EXPECT_EQ(item.fileUrl, "u");
    EXPECT_EQ(item.pathLoc, L"");
}

TEST(DownItem, ToJsonDerivesNamesAndSizesFromTheRecord)
{
    DownItem item;
    item.pathLoc = L"D:\\Downloads\\setup.tar.gz";
    item.nameLoc = L"from-page.bin";
    item.nameCustom = L"custom.bin";
    item.id = 5;
    item.lenSvr = 0;
    item.lenLoc = 1023;
    item.fileUrl = "http://h/setup.tar.gz";
    EventText written;
    written.string("name", "down_complete").string("lenLoc", "stale");
    item.toJson(written);
    Json::Value task;
    ASSERT_TRUE(parseJson(written.line(), task));

    EXPECT_EQ(task["name"].asString(), "down_complete");
    EXPECT_EQ(task["nameLoc"].asString(), "setup.tar.gz");
    EXPECT_EQ(task["ext"].asString(), ".gz");
    EXPECT_TRUE(task["lenLoc"].isInt64());
    EXPECT_EQ(task["lenLoc"].asInt64(), 1023);
    EXPECT_EQ(task["lenSvr"].asInt64(), 0);
    EXPECT_EQ(task["sizeSvr"].asString(), "0byte");
    EXPECT_EQ(task["sizeLoc"].asString(), "1023bytes");
    EXPECT_EQ(task["pathLoc"].asString(), "D:\\Downloads\\setup.tar.gz");
    EXPECT_EQ(task["fileUrl"].asString(), "http://h/setup.tar.gz");
    for (const char* absent : {"id", "idSvr", "complete", "nameCustom"})
        EXPECT_FALSE(task.isMember(absent)) << absent;
}

TEST(DownItem, ToJsonEdgeTexts)
{
    DownItem item;
    const auto written = [&item] {
        EventText text;
        item.toJson(text);
        Json::Value value;
        EXPECT_TRUE(parseJson(text.line(), value));
        return value;
    };
    Json::Value empty = written();
    EXPECT_EQ(empty["nameLoc"].asString(), "");
    EXPECT_EQ(empty["ext"].asString(), "");
    EXPECT_EQ(empty["pathLoc"].asString(), "");

    item.pathLoc = L"D:\\Downloads\\README";
    item.lenSvr = 1024;
    item.lenLoc = -5;
    Json::Value task = written();
    EXPECT_EQ(task["ext"].asString(), "");
    EXPECT_EQ(task["sizeSvr"].asString(), "1.00 KB");
    EXPECT_EQ(task["sizeLoc"].asString(), "-5bytes");
}

TEST(DownItem, RoundTripKeepsLengthsAndPathButNotThePagesName)
{
    const auto item = read(R"({"lenSvr":6442450944,"lenLoc":"4096","pathLoc":"/srv/下载/a.iso",)"
                           R"("nameLoc":"other.iso","fileUrl":"http://h/a.iso"})");
    EventText written;
    item->toJson(written);
    Json::Value task;
    ASSERT_TRUE(parseJson(written.line(), task));
    const auto again = std::make_shared<DownItem>();
    again->fromJson(task);
    EXPECT_EQ(again->lenSvr, 6442450944);
    EXPECT_EQ(again->lenLoc, 4096);
    EXPECT_EQ(again->pathLoc, L"/srv/下载/a.iso");
    EXPECT_EQ(again->nameLoc, L"a.iso");
    EXPECT_EQ(again->fileUrl, "http://h/a.iso");
}

TEST(DownItemConcurrency, LengthsAreReadWholeWhileTheWorkerWritesThem)
{
    const auto item = std::make_shared<DownItem>();
    // Alternates between values whose halves differ, so a torn read would show a third value.
    const int64_t low = 0x00000000FFFFFFFF, high = 0x7FFFFFFF00000000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 200000; ++i) {
            item->lenLoc = i % 2 ? low : high;
            item->lenSvr = i % 2 ? high : low;
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads < 1000) {
        const int64_t loc = item->lenLoc;
        const int64_t svr = item->lenSvr;
        ASSERT_TRUE(loc == 0 || loc == low || loc == high);
        ASSERT_TRUE(svr == 0 || svr == low || svr == high);
        ++reads;
    }
    worker.join();
}
