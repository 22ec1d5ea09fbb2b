#include "PageHarness.h"

#include "common/TempFolder.h"
#include "component/TaskMgr.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Control, ScriptedByNameThroughTheDispatchTable)
{
    PageHarness page;
    page.apartment->invoke([&] {
        IDownloaderPartition& control = *page.control.get();
        DISPID id = 0;
        const wchar_t* names[] = {L"Version", L"FireRecvMessage", L"postMessage", L"recvMessage"};
        for (int i = 0; i < 4; ++i) {
            ASSERT_EQ(control.GetIDsOfNames(names[i], &id), S_OK);
            EXPECT_EQ(id, i + 1);
        }
        EXPECT_EQ(control.GetIDsOfNames(L"version", &id), DISP_E_UNKNOWNNAME);

        std::vector<Variant> none;
        Variant result;
        ASSERT_EQ(control.Invoke(1, DispatchKind::PropertyGet, none, &result), S_OK);
        EXPECT_EQ(result.text, L"1,2,56,31650");
        EXPECT_EQ(control.get_Version(nullptr), S_OK);

        std::vector<Variant> echo{Variant::fromText(L"{\"name\":\"echo\"}\n")};
        EXPECT_EQ(control.Invoke(2, DispatchKind::Method, echo, nullptr), S_OK);
        std::vector<Variant> wrong{Variant::fromText(L"x")};
        EXPECT_EQ(control.Invoke(4, DispatchKind::PropertyPut, wrong, nullptr), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(control.Invoke(9, DispatchKind::Method, echo, nullptr), DISP_E_MEMBERNOTFOUND);
        EXPECT_EQ(control.Invoke(3, DispatchKind::Method, none, nullptr), DISP_E_BADPARAMCOUNT);
    });
    EXPECT_EQ(page.texts(), std::vector<std::string>{"{\"name\":\"echo\"}\n"});
}

TEST(Control, ShortMalformedAndUnknownTextsDoNothing)
{
    PageHarness page;
    for (const char* text : {"", "{}", "{ }", "abc", "not json at all", "[1,2,3,4]", "\"a string\"", "12345",
                             "{\"name\":5}", "{\"name\":{\"x\":1}}", "{\"name\":\"nonsense\"}", "{\"nam\":\"init\"}",
                             "{\"name\":\"INIT\"}", "/* c */ {\"name\":null}"})
        page.post(text);
    EXPECT_TRUE(page.texts().empty());
}

// Texts the JSON reader refuses by throwing (nesting beyond its depth limit) or that reach a
// handler with members it cannot read are dropped and logged; the control keeps answering.
TEST(Control, HostileTextsAreDroppedAndLogged)
{
    TempFolder dir;
    const std::string log = dir.file("control.log");
    PageHarness page;
    page.post(R"({"name":"init","config":{"Debug":true,"LogFile":")" + log + R"("}})");
    page.clear();
    const std::vector<std::string> unreadable{std::string(1000, '['), std::string(100000, '['),
                                              std::string(1000, '[') + std::string(1000, ']'),
                                              "{\"name\":\"init\",\"config\":" + std::string(5000, '[')};
    for (const auto& text : unreadable)
        page.post(text);
    for (const char* text : {"[\"name\",\"init\"]", "{\"name\":[\"init\"]}", "{\"name\":true}"})
        page.post(text);
    page.post(R"({"name":"add_file","id":"seven","fileUrl":"http://127.0.0.1:1/x"})");
    page.post(R"({"name":"add_file","id":8,"pathLoc":["a"]})");
    EXPECT_EQ(TaskMgr::instance().takeNextTask(), nullptr);
    EXPECT_TRUE(page.texts().empty());

    page.post(R"({"name":"init","config":{}})");
    page.post(R"({"name":"init","config":{"ThreadCount":2}})");
    EXPECT_EQ(page.texts(), std::vector<std::string>{
                                "{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}\n"});

    const std::string written = TempFolder::readFile(log);
    size_t unparsed = 0, failed = 0;
    for (size_t at = written.find("命令无法解析"); at != std::string::npos; at = written.find("命令无法解析", at + 1))
        ++unparsed;
    for (size_t at = written.find("命令执行失败,name:add_file"); at != std::string::npos;
         at = written.find("命令执行失败,name:add_file", at + 1))
        ++failed;
    EXPECT_EQ(unparsed, unreadable.size() + 1) << written;  // and the array at the root
    EXPECT_EQ(failed, 2u) << written;
}

// An event reaches the page as one compact line, members in key order, with non-ASCII text
// as its characters, numbers exact and no comment of a parsed value.
TEST(Control, EventTextIsCompactUtf8)
{
    PageHarness page;
    Json::Value event;
    event["name"] = "down_recv_name";
    event["pathLoc"] = "D:\\下载\\文件 名.zip";
    event["nested"]["emoji"] = "\xF0\x9F\x98\x80";
    ASSERT_TRUE(parseJson("[1, /* the page's note */ []]", event["nested"]["list"]));
    event["nested"]["empty"] = Json::Value(Json::objectValue);
    event["id"] = 7;
    event["len"] = Json::Int64(9007199254740993LL);
    event["min"] = Json::Int64(INT64_MIN);
    event["max"] = Json::UInt64(UINT64_MAX);
    event["ratio"] = 0.1;
    event["whole"] = 2.0;
    event["tiny"] = 1e-300;
    event["none"] = Json::Value();
    event["ctl"] = "a\"b\\c\n\t\x01/";
    std::thread worker([&] { TaskMgr::instance().sendEvent(event); });
    worker.join();
    ASSERT_TRUE(page.waitFor("down_recv_name"));
    EXPECT_EQ(page.texts(),
              std::vector<std::string>{
                  R"({"ctl":"a\"b\\c\n\t\u0001/","id":7,"len":9007199254740993,"max":18446744073709551615,)"
                  R"("min":-9223372036854775808,"name":"down_recv_name","nested":{"emoji":"😀","empty":{},)"
                  R"("list":[1,[]]},"none":null,"pathLoc":"D:\\下载\\文件 名.zip","ratio":0.10000000000000001,)"
                  R"("tiny":1e-300,"whole":2.0})"
                  "\n"});
}

TEST(Control, CallbackLifecycle)
{
    PageHarness page;
    Json::Value event;
    event["name"] = "queue_begin";
    // Setting the same function again keeps one reference: the control's and ours.
    page.apartment->invoke([&] { page.control->put_recvMessage(page.callback.get()); });
    EXPECT_EQ(page.callback->AddRef(), 3u);
    page.callback->Release();

    page.apartment->invoke([&] { page.control->put_recvMessage(nullptr); });
    EXPECT_EQ(page.callback->AddRef(), 2u);
    page.callback->Release();
    TaskMgr::instance().sendEvent(event);  // no callback: dropped without a trace
    page.flush();
    EXPECT_TRUE(page.texts().empty());

    page.apartment->invoke([&] { page.control->put_recvMessage(page.callback.get()); });
    TaskMgr::instance().sendEvent(event);
    page.flush();
    EXPECT_EQ(page.texts().size(), 1u);
}

TEST(Control, ThrowingCallbackDoesNotStopLaterDeliveries)
{
    PageHarness page;
    page.setOnEvent([](const Json::Value& event) {
        if (event["n"].asInt() % 2 == 0)
            throw std::runtime_error("page script error");
    });
    for (int n = 0; n < 6; ++n) {
        Json::Value event;
        event["name"] = "down_process";
        event["n"] = n;
        std::thread([&] { TaskMgr::instance().sendEvent(event); }).join();
    }
    page.flush();
    EXPECT_EQ(page.texts().size(), 6u);
}

TEST(Control, TheControlCreatedLastReceivesEvents)
{
    PageHarness first;
    PageHarness second;
    Json::Value event;
    event["name"] = "queue_end";
    std::thread([&] { TaskMgr::instance().sendEvent(event); }).join();
    second.flush();
    first.flush();
    EXPECT_TRUE(first.texts().empty());
    EXPECT_EQ(second.texts().size(), 1u);
}

TEST(Control, CreationOffAnApartmentFailsAndKeepsTheSender)
{
    PageHarness page;
    CDownloaderPartition* created = nullptr;
    EXPECT_EQ(CDownloaderPartition::create(&created), E_FAIL);
    EXPECT_EQ(created, nullptr);
    Json::Value event;
    event["name"] = "queue_end";
    TaskMgr::instance().sendEvent(event);
    page.flush();
    EXPECT_EQ(page.texts().size(), 1u);
}

// A page unloads as a browser unloads it: Close(), then the host lets go of the control and
// ends the apartment. The control stays the event sender, dropping what it is sent, until a
// newer control takes the events; then it is freed with its apartment.
TEST(Control, AnUnloadedPageIsFreedOnceANewerControlTakesTheEvents)
{
    std::weak_ptr<Apartment> watch;
    std::atomic<int> delivered{0};
    {
        auto apartment = Apartment::create();
        watch = apartment;
        apartment->invoke([&] {
            CDownloaderPartition* created = nullptr;
            ASSERT_EQ(CDownloaderPartition::create(&created), S_OK);
            auto control = ComPtr<CDownloaderPartition>::adopt(created);
            auto callback = ScriptFunction::create([&](const std::wstring&) { ++delivered; });
            control->put_recvMessage(callback.get());
            control->postMessage(LR"({"name":"init","config":{"ThreadCount":1}})");
            EXPECT_EQ(control->Close(), S_OK);
            void* unused = nullptr;
            EXPECT_EQ(control->GetSite(IID_IUnknown, &unused), E_FAIL);
        });
        apartment->stop();
    }
    EXPECT_EQ(delivered.load(), 1);  // load_complete, before the unload
    Json::Value event;
    event["name"] = "down_process";
    std::thread([&] { TaskMgr::instance().sendEvent(event); }).join();
    EXPECT_EQ(delivered.load(), 1);
    EXPECT_FALSE(watch.expired());  // the unloaded control still holds it, as the sender

    PageHarness newer;
    EXPECT_TRUE(watch.expired());
    std::thread([&] { TaskMgr::instance().sendEvent(event); }).join();
    newer.flush();
    EXPECT_EQ(newer.texts().size(), 1u);
}

// The page's calls bypassing the interface table (straight from a worker) are a fault the
// control catches where it happens, instead of racing the page on the callback.
TEST(ControlDeathTest, PageCallsFromAnotherThreadEndTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    PageHarness page;
    IDownloaderPartition& control = *page.control.get();
    EXPECT_DEATH(std::thread([&] { control.postMessage(LR"({"name":"start_queue"})"); }).join(),
                 "CDownloaderPartition::postMessage called on a thread that does not own it");
    EXPECT_DEATH(std::thread([&] { control.put_recvMessage(nullptr); }).join(), "put_recvMessage");
}
