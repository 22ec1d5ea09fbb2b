#include "support/EventText.h"
#include "support/JsonText.h"

#include <gtest/gtest.h>

#include <limits>

// Pages get the same text whichever way an event was built: member order, numbers, escapes,
// nested objects, lists and a member set twice all come out as jsoncpp's compact writer has them.
TEST(EventText, WritesWhatTheJsonWriterWrites)
{
    std::string every;  // every byte but NUL, which names and paths cannot hold
    for (int c = 1; c < 256; ++c)
        every += static_cast<char>(c);
    const std::string text = "say \"hi\" \\ C:\\tmp\n\t\xE4\xB8\xAD\x7F";
    const int64_t big = std::numeric_limits<int64_t>::max();
    const int64_t small = std::numeric_limits<int64_t>::min();

    EventText file;
    file.string("sizeLoc", "12 KB").number("lenLoc", big).string("pathLoc", every);
    EventText event;
    event.string("name", "down_process").number("id", -7).flag("folder", false).flag("all", true);
    event.string("percent", "1%").number("lenSvr", small).string("reason", text).object("file", file);
    event.string("name", "down_begin");  // replaces the first value, keeps one member
    EventList files;
    files.add(file);
    files.add(EventText().number("id", 2));
    event.list("files", std::move(files)).list("none", EventList());

    Json::Value fileValue;
    fileValue["sizeLoc"] = "12 KB";
    fileValue["lenLoc"] = Json::Int64(big);
    fileValue["pathLoc"] = every;
    Json::Value value;
    value["name"] = "down_begin";
    value["id"] = -7;
    value["folder"] = false;
    value["all"] = true;
    value["percent"] = "1%";
    value["lenSvr"] = Json::Int64(small);
    value["reason"] = text;
    value["file"] = fileValue;
    value["files"].append(fileValue);
    value["files"].append(Json::Value());
    value["files"][1]["id"] = 2;
    value["none"] = Json::Value(Json::arrayValue);

    EXPECT_EQ(event.line(), writeCompactJson(value));
    EXPECT_EQ(EventText().line(), "{}\n");
    Json::Value parsed;
    ASSERT_TRUE(parseJson(event.line(), parsed));
    EXPECT_EQ(parsed["file"]["pathLoc"].asString(), every);
}
