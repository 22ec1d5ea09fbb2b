#include "PageHarness.h"

#include "common/FixtureServer.h"
#include "common/TempFolder.h"
#include "component/Config.h"
#include "component/TaskMgr.h"
#include "platform/FolderPicker.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

std::string addFile(int id, const std::string& url, const std::string& extra = "")
{
    return R"({"name":"add_file","id":)" + std::to_string(id) + R"(,"fileUrl":")" + url + "\"" + extra + "}";
}

// Names of the events, with the id of job events: "down_complete#3".
std::vector<std::string> trace(const std::vector<Json::Value>& events)
{
    std::vector<std::string> out;
    for (const auto& event : events)
        out.push_back(event["name"].asString() + (event.isMember("id") ? "#" + event["id"].asString() : ""));
    return out;
}

size_t countOf(const std::vector<std::string>& trace, const std::string& entry)
{
    return static_cast<size_t>(std::count(trace.begin(), trace.end(), entry));
}

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        page.post(R"({"name":"init","config":{"Folder":")" + dir.path().string() + R"(","ThreadCount":1}})");
        page.clear();
        server.on("/small", FixtureResponse::file(TempFolder::pattern(5000)));
        FixtureResponse stalled = FixtureResponse::file(std::string(100000, 's'));
        stalled.stall = FixtureResponse::Stall::afterHeaders;
        server.on("/stall", stalled);
    }

    // Waits for the queue to end and for the last job to have reported its end.
    void waitQueueEnd()
    {
        ASSERT_TRUE(page.waitFor("queue_end"));
        ASSERT_TRUE(page.waitIdle());
    }

    std::string path(const std::string& name) const { return (dir.path() / name).string(); }

    TempFolder dir;
    FixtureServer server;
    PageHarness page;
};

}  // namespace

// Also across kinds: a job that ends hands its slot to the next task only when that task is of
// its own kind, so a folder between file tasks still takes its turn.
TEST_F(QueueTest, TasksStartInIdOrderAndTheFirstOfAnIdStays)
{
    for (int id : {7, 3, 5})
        page.post(addFile(id, server.url("/small?n=" + std::to_string(id)),
                          R"(,"pathLoc":")" + path(std::to_string(id)) + "\""));
    page.post(addFile(3, server.url("/small?dup")));
    page.post(R"({"name":"add_folder","id":4,"nameLoc":"tree","pathLoc":"E:\\tree","files":[)"
              R"({"pathLoc":"E:\\tree\\a","lenSvr":5000,"fileUrl":")" +
              server.url("/small?n=4") + R"("}]})");
    page.clear();  // its "init_end"
    page.post(R"({"name":"start_queue"})");
    waitQueueEnd();
    std::vector<std::string> targets;
    for (const auto& request : server.requests())
        targets.push_back(request.target);
    EXPECT_EQ(targets, (std::vector<std::string>{"/small?n=3", "/small?n=4", "/small?n=5", "/small?n=7"}));
    const auto events = trace(page.events());
    EXPECT_EQ(events.front(), "queue_begin");
    EXPECT_EQ(events[events.size() - 2], "queue_complete");
    EXPECT_EQ(events.back(), "queue_end");
    for (int id : {3, 5, 7})
        EXPECT_EQ(countOf(events, "down_complete#" + std::to_string(id)), 1u);
    EXPECT_EQ(countOf(events, "down_complete#4"), 2u);  // its one file, then the folder
}

TEST_F(QueueTest, ThreadCountLimitsConcurrentTransfers)
{
    // Requests being answered at once, counted at the server: a closed connection that the
    // server has not yet noticed must not count as a transfer.
    std::atomic<int> answering{0}, peak{0};
    server.on("/slow", [&](const FixtureRequest&) {
        const int now = ++answering;
        int seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        --answering;
        return FixtureResponse::file(TempFolder::pattern(20000));
    });
    page.post(R"({"name":"init","config":{"Folder":")" + dir.path().string() + R"(","ThreadCount":2}})");
    for (int id = 1; id <= 5; ++id)
        page.post(addFile(id, server.url("/slow?" + std::to_string(id))));
    page.post(R"({"name":"start_queue"})");
    waitQueueEnd();
    EXPECT_LE(peak.load(), 2);
    EXPECT_GE(peak.load(), 1);
    EXPECT_EQ(server.requests().size(), 5u);
    const auto events = trace(page.events());
    for (int id = 1; id <= 5; ++id)
        EXPECT_EQ(countOf(events, "down_complete#" + std::to_string(id)), 1u);
    EXPECT_EQ(events.back(), "queue_end");
    EXPECT_EQ(countOf(events, "queue_complete"), 1u);
}

TEST_F(QueueTest, StartWithNothingPendingAndStartTwice)
{
    page.post(R"({"name":"start_queue"})");
    waitQueueEnd();
    EXPECT_EQ(trace(page.events()), (std::vector<std::string>{"queue_begin", "queue_complete", "queue_end"}));

    page.clear();
    page.post(addFile(1, server.url("/small")));
    page.post(R"({"name":"start_queue"})");
    page.post(R"({"name":"start_queue"})");  // the run is going on: no second queue
    waitQueueEnd();
    const auto events = trace(page.events());
    EXPECT_EQ(countOf(events, "queue_begin"), 1u);
    EXPECT_EQ(countOf(events, "queue_end"), 1u);
    EXPECT_EQ(countOf(events, "down_complete#1"), 1u);
}

TEST_F(QueueTest, StopQueueKeepsPendingTasks)
{
    page.post(addFile(1, server.url("/stall")));
    page.post(addFile(2, server.url("/small")));
    page.post(R"({"name":"start_queue"})");
    ASSERT_TRUE(page.waitFor("down_begin"));
    page.post(R"({"name":"stop_queue"})");
    waitQueueEnd();
    auto events = trace(page.events());
    EXPECT_EQ(countOf(events, "queue_complete"), 0u);
    EXPECT_EQ(countOf(events, "down_stoped#1"), 1u);
    EXPECT_EQ(countOf(events, "down_error#1"), 0u);
    EXPECT_EQ(server.requests().size(), 1u);  // task 2 never started

    // The pending task runs in the next queue run.
    page.post(R"({"name":"start_queue"})");
    ASSERT_TRUE(page.waitFor("queue_end", 2));
    waitQueueEnd();
    events = trace(page.events());
    EXPECT_EQ(countOf(events, "down_complete#2"), 1u);
    EXPECT_EQ(countOf(events, "queue_complete"), 1u);
}

TEST_F(QueueTest, StopFileForPendingAndRunningTasks)
{
    page.post(addFile(1, server.url("/stall")));
    page.post(addFile(2, server.url("/small")));
    page.post(R"({"name":"stop_file","id":2})");  // pending: dropped without an event
    page.post(R"({"name":"start_queue"})");
    ASSERT_TRUE(page.waitFor("down_begin"));
    page.post(R"({"name":"stop_file","id":1})");
    waitQueueEnd();
    const auto events = trace(page.events());
    EXPECT_EQ(countOf(events, "down_stoped#1"), 1u);
    EXPECT_EQ(countOf(events, "queue_complete"), 1u);
    for (const auto& entry : events)
        EXPECT_EQ(entry.find("#2"), std::string::npos) << entry;
}

TEST_F(QueueTest, InitDuringARunDropsPendingTasksOnly)
{
    page.post(addFile(1, server.url("/small?slowest"), R"(,"pathLoc":")" + path("one") + "\""));
    page.post(addFile(2, server.url("/small?never")));
    server.on("/gate", [](const FixtureRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return FixtureResponse::file("gate");
    });
    page.post(addFile(0, server.url("/gate")));
    page.post(R"({"name":"start_queue"})");
    ASSERT_TRUE(page.waitFor("down_process"));
    page.post(R"({"name":"init","config":{"Folder":")" + dir.path().string() + R"("}})");
    waitQueueEnd();
    const auto events = trace(page.events());
    EXPECT_EQ(countOf(events, "down_complete#0"), 1u);  // the running task went on
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(countOf(events, "queue_complete"), 1u);
}

TEST_F(QueueTest, StartQueueFromInsideQueueComplete)
{
    std::atomic<bool> asked{false};
    page.setOnEvent([&](const Json::Value& event) {
        if (event["name"].asString() == "queue_complete" && !asked.exchange(true))
            page.control->postMessage(LR"({"name":"start_queue"})");  // the thread still runs
    });
    page.post(R"({"name":"start_queue"})");
    waitQueueEnd();  // idle: a second run would still be busy
    EXPECT_EQ(countOf(trace(page.events()), "queue_begin"), 1u);

    page.setOnEvent(nullptr);
    page.post(R"({"name":"start_queue"})");  // after queue_end: a new run
    ASSERT_TRUE(page.waitFor("queue_end", 2));
    EXPECT_EQ(countOf(trace(page.events()), "queue_begin"), 2u);
}

namespace {

// Child process: starts the queue once while the address space leaves room for small
// allocations but none for a thread's stack, then once without the limit. Exits 0 when the
// refused start ended the queue and the next one ran.
[[noreturn]] void startWithoutRoomForAThread(PageHarness& page)
{
    pthread_attr_t defaults;
    size_t stack = 0;
    pthread_getattr_default_np(&defaults);
    pthread_attr_getstacksize(&defaults, &stack);
    std::ifstream statm("/proc/self/statm");
    rlim_t pages = 0;
    statm >> pages;
    rlimit limit{pages * sysconf(_SC_PAGESIZE) + stack / 2, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    page.post(R"({"name":"start_queue"})");
    limit.rlim_cur = RLIM_INFINITY;
    setrlimit(RLIMIT_AS, &limit);
    const auto refused = trace(page.events());
    page.post(R"({"name":"start_queue"})");
    page.waitFor("queue_end", 2, 10);
    const auto events = trace(page.events());
    for (const auto& entry : events)
        std::fprintf(stderr, "%s ", entry.c_str());
    const bool ok =
        refused == std::vector<std::string>{"queue_begin", "queue_end"} &&
        events == std::vector<std::string>{"queue_begin", "queue_end", "queue_begin", "queue_complete", "queue_end"};
    std::_Exit(ok ? 0 : 1);
}

}  // namespace

// A queue whose thread cannot be made does not stay marked as running: the page hears
// "queue_end", and a later "start_queue" begins a run.
TEST_F(QueueTest, QueueThreadThatCannotBeMadeEndsTheQueue)
{
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(startWithoutRoomForAThread(page), ::testing::ExitedWithCode(0), "");
}

// A start that meets the end of a run with a task waiting is not lost: the ending thread
// finishes its run and begins the next one, once, however often the page asked.
TEST_F(QueueTest, StartFromQueueCompleteRunsTheTaskAddedThere)
{
    const std::wstring late = fromUtf8(addFile(2, server.url("/small?late"), R"(,"pathLoc":")" + path("late") + "\""));
    std::atomic<bool> asked{false};
    page.setOnEvent([&](const Json::Value& event) {
        if (event["name"].asString() != "queue_complete" || asked.exchange(true))
            return;
        page.control->postMessage(late);
        page.control->postMessage(LR"({"name":"start_queue"})");
        page.control->postMessage(LR"({"name":"start_queue"})");
    });
    page.post(addFile(1, server.url("/small"), R"(,"pathLoc":")" + path("first") + "\""));
    page.post(R"({"name":"start_queue"})");
    ASSERT_TRUE(page.waitFor("down_complete", 2, 10));
    waitQueueEnd();
    page.setOnEvent(nullptr);
    EXPECT_EQ(TempFolder::readFile(dir.path() / "late"), TempFolder::pattern(5000));
    std::vector<std::string> outline;
    for (const auto& entry : trace(page.events()))
        if (entry.rfind("queue_", 0) == 0 || entry.rfind("down_complete", 0) == 0)
            outline.push_back(entry);
    EXPECT_EQ(outline, (std::vector<std::string>{"queue_begin", "down_complete#1", "queue_complete", "queue_end",
                                                 "queue_begin", "down_complete#2", "queue_complete", "queue_end"}));
}

// A task queued again while its first run still goes on: the two runs stay apart, so the
// second one's end neither removes nor disconnects the first and stop_file still reaches it.
TEST_F(QueueTest, TwoRunsOfOneIdStayApart)
{
    server.on("/gate", [](const FixtureRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return FixtureResponse::file("gate");
    });
    page.post(R"({"name":"init","config":{"Folder":")" + dir.path().string() + R"(","ThreadCount":2}})");
    page.post(addFile(1, server.url("/stall"), R"(,"pathLoc":")" + path("slow") + "\""));
    page.post(addFile(5, server.url("/gate"), R"(,"pathLoc":")" + path("gate") + "\""));
    page.post(R"({"name":"start_queue"})");
    ASSERT_TRUE(page.waitFor("down_begin"));
    // Started when task 5 gives its permit back, while the first run of 1 still stalls.
    page.post(addFile(1, server.url("/small"), R"(,"pathLoc":")" + path("fast") + "\""));
    ASSERT_TRUE(page.waitFor("down_complete", 2));
    EXPECT_EQ(TempFolder::readFile(dir.path() / "fast"), TempFolder::pattern(5000));
    page.post(R"({"name":"stop_file","id":1})");
    ASSERT_TRUE(page.waitFor("down_stoped", 1, 5));
    waitQueueEnd();
    EXPECT_EQ(countOf(trace(page.events()), "queue_complete"), 1u);
}

// A task added while the queue runs starts at once when a slot is free, not only when a
// running job ends.
TEST_F(QueueTest, TaskAddedMidRunStartsWhenASlotIsFree)
{
    page.post(R"({"name":"init","config":{"Folder":")" + dir.path().string() + R"(","ThreadCount":2}})");
    page.post(addFile(1, server.url("/stall"), R"(,"pathLoc":")" + path("slow") + "\""));
    page.post(R"({"name":"start_queue"})");
    ASSERT_TRUE(page.waitFor("down_begin"));
    page.post(addFile(2, server.url("/small"), R"(,"pathLoc":")" + path("added") + "\""));
    ASSERT_TRUE(page.waitFor("down_complete", 1, 10));  // while task 1 still stalls
    page.post(addFile(3, server.url("/small"), R"(,"pathLoc":")" + path("third") + "\""));
    ASSERT_TRUE(page.waitFor("down_complete", 2, 10));
    page.post(R"({"name":"stop_file","id":1})");
    waitQueueEnd();
    const auto events = trace(page.events());
    EXPECT_EQ(countOf(events, "down_complete#2"), 1u);
    EXPECT_EQ(countOf(events, "down_complete#3"), 1u);
    EXPECT_EQ(countOf(events, "down_stoped#1"), 1u);
    EXPECT_EQ(countOf(events, "queue_complete"), 1u);
}

TEST_F(QueueTest, MistypedCommandsAreIgnored)
{
    page.post(R"({"name":"add_file","id":{"x":1},"fileUrl":"http://127.0.0.1:1/x"})");
    page.post(R"({"name":"add_file","id":1,"lenLoc":"12","pathLoc":["a"]})");
    page.post(R"({"name":"add_folder","id":2,"files":{"a":{}}})");
    page.post(R"({"name":"stop_file","id":"1"})");
    page.post(R"({"name":"stop_file","id":[1]})");
    page.post(R"({"name":"start_queue"})");
    waitQueueEnd();
    EXPECT_EQ(trace(page.events()), (std::vector<std::string>{"queue_begin", "queue_complete", "queue_end"}));
}

namespace {

class ScriptedPicker : public FolderPicker {
public:
    explicit ScriptedPicker(std::wstring choice) : answer(std::move(choice)) {}
    Choice pick(const std::wstring& title) override
    {
        asked = title;
        Choice choice;
        if (!answer.empty()) {
            choice.outcome = Choice::Outcome::chosen;
            choice.path = answer;
        }
        return choice;
    }
    std::wstring answer;
    std::wstring asked;
};

// A dialog that stays open until the test closes it.
class HeldPicker : public FolderPicker {
public:
    Choice pick(const std::wstring&) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
        changed.wait(lock, [&] { return !answer.empty(); });
        Choice choice;
        choice.outcome = Choice::Outcome::chosen;
        choice.path = answer;
        return choice;
    }
    void waitUntilOpen()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return open; });
    }
    void close(const std::wstring& chosen)
    {
        std::lock_guard<std::mutex> lock(mutex);
        answer = chosen;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;    // guarded by mutex
    std::wstring answer;  // guarded by mutex
};

}  // namespace

TEST_F(QueueTest, OpenFolderSetsTheDownloadFolderOrKeepsItOnCancel)
{
    auto picker = std::make_shared<ScriptedPicker>(L"/srv/下载");
    FolderPicker::install(picker);
    page.post(R"({"name":"open_folder"})");
    EXPECT_EQ(picker->asked, L"选择文件夹");
    EXPECT_EQ(Config::instance().folder(), L"/srv/下载");
    picker->answer.clear();
    page.post(R"({"name":"open_folder"})");
    EXPECT_EQ(Config::instance().folder(), L"/srv/下载");
    FolderPicker::install(nullptr);
    // The page hears what was chosen, and that nothing was.
    ASSERT_EQ(page.texts().size(), 2u);
    EXPECT_EQ(page.texts()[0], "{\"folder\":\"/srv/下载\",\"name\":\"folder_chosen\"}\n");
    EXPECT_EQ(page.texts()[1], "{\"name\":\"folder_chosen\"}\n");
}

TEST_F(QueueTest, TheFolderDialogKeepsEventsAndCommandsFlowing)
{
    auto picker = std::make_shared<HeldPicker>();
    FolderPicker::install(picker);
    std::thread host([&] { page.post(R"({"name":"open_folder"})"); });  // returns when it closes
    picker->waitUntilOpen();
    std::thread worker([] {
        Json::Value event;
        event["name"] = "down_process";
        event["id"] = 7;
        TaskMgr::instance().sendEvent(event);
    });
    worker.join();
    page.flush();  // delivered while the dialog is open: the page's thread pumps
    page.post(R"({"name":"init","config":{"Folder":"/srv/typed"}})");
    EXPECT_EQ(trace(page.events()), (std::vector<std::string>{"down_process#7", "load_complete"}));
    EXPECT_EQ(Config::instance().folder(), L"/srv/typed");
    picker->close(L"/srv/picked");
    host.join();
    EXPECT_EQ(Config::instance().folder(), L"/srv/picked");
    FolderPicker::install(nullptr);
}

TEST_F(QueueTest, WithoutADesktopOpenFolderKeepsTheFolderAndLogsWhy)
{
    const std::string log = path("zelvorn.log");
    page.post(R"({"name":"init","config":{"Folder":"/srv/kept","Debug":true,"LogFile":")" + log + R"("}})");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    page.post(R"({"name":"open_folder"})");
    setenv("DISPLAY", ":99", 1);
    const std::string searchPath = getenv("PATH");
    setenv("PATH", dir.path().c_str(), 1);  // no dialog program here
    page.post(R"({"name":"open_folder"})");
    setenv("PATH", searchPath.c_str(), 1);
    EXPECT_EQ(Config::instance().folder(), L"/srv/kept");
    const std::string written = TempFolder::readFile(log);
    EXPECT_NE(written.find("neither DISPLAY nor WAYLAND_DISPLAY"), std::string::npos) << written;
    EXPECT_NE(written.find("neither zenity nor kdialog"), std::string::npos) << written;
}
