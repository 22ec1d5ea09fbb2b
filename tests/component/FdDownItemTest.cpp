#include "common/TempFolder.h"
#include "component/Config.h"
#include "component/FdDownItem.h"
#include "component/TaskMgr.h"
#include "support/JsonText.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class FdDownItemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Spelt the way pages spell folders, with backslashes.
        std::wstring spelt = downloads;
        for (wchar_t& c : spelt)
            c = c == L'/' ? L'\\' : c;
        Config::instance().setFolder(spelt);
        TaskMgr::instance().setSender([this](std::string&& text) {
            Json::Value event;
            EXPECT_TRUE(parseJson(text, event)) << text;
            sent.push_back(event);
        });
    }

    std::shared_ptr<FdDownItem> read(const std::string& text)
    {
        Json::Value task;
        EXPECT_TRUE(parseJson(text, task)) << text;
        auto folder = std::make_shared<FdDownItem>();
        folder->fromJson(task);
        folder->layOutIfNew();
        return folder;
    }

    std::vector<Json::Value> sent;
    TempFolder dir;
    const std::wstring downloads = (dir.path() / "Downloads").wstring();
    const std::string downloadsUtf8 = (dir.path() / "Downloads").string();
};

const char* kNewFolder = R"({"name":"add_folder","id":12,"nameLoc":"photos","pathLoc":"E:\\share\\photos",
  "lenSvr":3000,"lenLoc":0,"fileUrl":"","files":[
    {"id":55,"pathLoc":"E:\\share\\photos\\2019\\a.jpg","fileUrl":"http://h/a.jpg","lenSvr":1000,"lenLoc":0},
    {"id":56,"pathLoc":"E:\\share\\photos\\b c.png","fileUrl":"http://h/b","lenSvr":"2000"},
    {"pathLoc":"F:\\elsewhere\\x.txt","lenSvr":0},
    {"pathLoc":"Z:\\E:\\share\\photos\\in\\middle.txt","lenSvr":5}]})";

}  // namespace

TEST_F(FdDownItemTest, NewFolderIsLaidOutAndReportedWithInitEnd)
{
    auto folder = read(kNewFolder);
    EXPECT_EQ(folder->kind, 1);
    EXPECT_EQ(folder->pathLoc, downloads + L"/photos");
    ASSERT_EQ(folder->files.size(), 4u);
    EXPECT_EQ(folder->files[0]->pathLoc, downloads + L"/photos/2019/a.jpg");
    EXPECT_EQ(folder->files[1]->pathLoc, downloads + L"/photos/b c.png");
    // A path outside the folder's is placed whole inside the root, never beside it.
    EXPECT_EQ(folder->files[2]->pathLoc, downloads + L"/photos/F:/elsewhere/x.txt");
    EXPECT_EQ(folder->files[3]->pathLoc, downloads + L"/photos/Z:/in/middle.txt");  // removed where it stands
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(folder->files[i]->id, i);
        EXPECT_EQ(folder->files[i]->kind, 0);
    }
    EXPECT_EQ(folder->files[1]->lenSvr.load(), 2000);

    ASSERT_EQ(sent.size(), 1u);
    const Json::Value& event = sent[0];
    EXPECT_EQ(event["name"].asString(), "init_end");
    EXPECT_EQ(event["id"].asInt(), 12);
    EXPECT_EQ(event["nameLoc"].asString(), "photos");
    EXPECT_EQ(event["pathLoc"].asString(), downloadsUtf8 + "/photos");
    EXPECT_EQ(event["errors"].asInt(), 0);
    EXPECT_TRUE(event.isMember("succes"));
    EXPECT_FALSE(event.isMember("success"));
    EXPECT_EQ(event["lenSvr"].asInt64(), 3000);
    EXPECT_EQ(event["sizeSvr"].asString(), "2.92 KB");
    ASSERT_EQ(event["files"].size(), 4u);
    const Json::Value& first = event["files"][0];
    EXPECT_FALSE(first.isMember("id"));
    EXPECT_EQ(first["nameLoc"].asString(), "a.jpg");
    EXPECT_EQ(first["ext"].asString(), ".jpg");
    EXPECT_EQ(first["pathLoc"].asString(), downloadsUtf8 + "/photos/2019/a.jpg");
    EXPECT_EQ(first["fileUrl"].asString(), "http://h/a.jpg");
    EXPECT_EQ(first["sizeLoc"].asString(), "0byte");
}

TEST_F(FdDownItemTest, ResumedFolderKeepsItsPathsAndSendsNothing)
{
    auto folder = read(R"({"id":3,"nameLoc":"photos","pathLoc":"D:/Downloads/photos","lenLoc":"1500",
      "errors":2,"success":true,"files":[{"id":9,"pathLoc":"D:/Downloads/photos/a.jpg","lenLoc":500,"complete":true},
      {"id":9,"pathLoc":"D:/Downloads/photos/b.jpg"}]})");  // kept as the page saved them
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(folder->pathLoc, L"D:/Downloads/photos");
    EXPECT_EQ(folder->files[0]->pathLoc, L"D:/Downloads/photos/a.jpg");
    EXPECT_TRUE(folder->files[0]->complete);
    EXPECT_EQ(folder->files[1]->id, 1);
    EXPECT_EQ(folder->errors, 2);
    EXPECT_EQ(folder->success, 1);
    EventText written;
    folder->toJson(written);
    Json::Value out;
    ASSERT_TRUE(parseJson(written.line(), out));
    EXPECT_EQ(out["succes"].asInt(), 1);
    EXPECT_EQ(out["errors"].asInt(), 2);
}

TEST_F(FdDownItemTest, EdgeShapesOfTheFileList)
{
    auto negative = read(R"({"id":1,"nameLoc":"n","lenLoc":-1})");  // negative counts as new
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_FALSE(sent[0].isMember("files"));
    EXPECT_TRUE(negative->files.empty());

    auto text = read(R"({"id":2,"nameLoc":"n","lenLoc":1,"files":"not a list"})");
    EXPECT_TRUE(text->files.empty());

    auto emptyFolderPath = read(R"({"id":4,"nameLoc":"m","pathLoc":"","files":[{"pathLoc":"\\a\\b.txt"}]})");
    EXPECT_EQ(emptyFolderPath->files[0]->pathLoc, downloads + L"/m/a/b.txt");
}

TEST_F(FdDownItemTest, MistypedMembersThrowAndSendNothing)
{
    for (const char* text : {R"({"id":1,"errors":"3"})", R"({"id":1,"success":[1]})", R"({"id":1,"files":{"a":1}})",
                             R"({"id":1,"files":[{"id":"x"}]})", R"({"id":1,"files":[{"pathLoc":{}}]})"}) {
        Json::Value task;
        ASSERT_TRUE(parseJson(text, task));
        FdDownItem folder;
        EXPECT_THROW(folder.fromJson(task), Json::LogicError) << text;
    }
    EXPECT_TRUE(sent.empty());
}
