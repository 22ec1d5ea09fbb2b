// The sessions of `zelvorn serve` through its framed protocol, as zelvorn.js speaks it: every
// tab its own control, a page that comes back receives what it missed, and a task sent again is
// the same task. Files come from the fixture server, which holds a response part-way until the
// test lets it go.
#include "ServeProcess.h"
#include "SessionClient.h"

#include "common/FixtureServer.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const std::string kKeyA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kKeyB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const char* const kInit = R"({"name":"init","config":{"ThreadCount":1}})";
const char* const kStart = R"({"name":"start_queue"})";

std::string addFile(int id, const std::string& url)
{
    return R"({"name":"add_file","id":)" + std::to_string(id) + R"(,"fileUrl":")" + url + "\"}";
}

// Holds responses part-way until the test opens it.
class Gate {
public:
    void open()
    {
        std::lock_guard<std::mutex> guard(lock);
        opened = true;
        changed.notify_all();
    }
    void wait()
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return opened; });
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool opened = false;
};

// Opens a gate when it goes, declared after the fixture server: the responses that gate holds
// must end before the server can.
struct GateOpener {
    std::shared_ptr<Gate> gate;
    ~GateOpener() { gate->open(); }
};

// `body` served with ranges, each response held by `gate` after half of the file.
FixtureServer::Handler gated(const std::string& body, const std::shared_ptr<Gate>& gate)
{
    const auto ranged = FixtureServer::rangedFile(body);
    return [ranged, gate, half = body.size() / 2](const FixtureRequest& request) {
        FixtureResponse response = ranged(request);
        response.pauseAfter = half;
        response.paused = [gate] { gate->wait(); };
        return response;
    };
}

size_t requestsFor(const FixtureServer& server, const std::string& path)
{
    const auto all = server.requests();
    return static_cast<size_t>(
        std::count_if(all.begin(), all.end(), [&](const FixtureRequest& request) { return request.target == path; }));
}

// Reads events up to and including the `nth` named `name` (of task `id`); fails the test when
// the socket closes first.
std::vector<SessionClient::Event> readThrough(SessionClient& page, const std::string& name, int id = -1, int nth = 1)
{
    std::vector<SessionClient::Event> events;
    for (;;) {
        auto event = page.next();
        EXPECT_TRUE(event) << (page.timedOut() ? "no event for 30 s before " : "closed before ") << name << " " << id
                           << " after " << events.size() << " events, the last "
                           << (events.empty() ? std::string("none") : events.back().text) << ": " << page.closeCode()
                           << " " << page.closeReason();
        if (!event)
            return events;
        events.push_back(*event);
        if (event->is(name, id) && --nth == 0)
            return events;
    }
}

size_t count(const std::vector<SessionClient::Event>& events, const std::string& name, int id = -1)
{
    return static_cast<size_t>(std::count_if(events.begin(), events.end(),
                                             [&](const SessionClient::Event& event) { return event.is(name, id); }));
}

// True once `ready` holds, trying every 20 ms for up to 30 s.
template <class Condition>
bool eventually(Condition ready)
{
    for (int i = 0; i < 1500; ++i) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ready();
}

bool running(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

}  // namespace

// Two tabs download at once, each with its own ids, "init" and events; a page whose socket drops
// comes back to its session and first receives, in order, every event it had not acknowledged,
// and the commands it sends again after the loss do not run twice.
TEST(Sessions, EachTabHasItsOwnControlAndAPageComesBackToWhatItMissed)
{
    TempFolder downloads;
    FixtureServer server;
    const auto gate = std::make_shared<Gate>();
    const std::string a = TempFolder::pattern(300 * 1024), b = TempFolder::pattern(70 * 1024);
    server.on("/a.bin", gated(a, gate));
    const GateOpener opener{gate};
    server.on("/b.bin", FixtureServer::rangedFile(b));
    ServeProcess serve({}, {{"XDG_DOWNLOAD_DIR", downloads.path().string()}});

    SessionClient tabA(serve.port(), serve.origin(), kKeyA, "a1");
    ASSERT_TRUE(tabA.hello()) << serve.errors();
    EXPECT_EQ(tabA.session(), kKeyA);
    EXPECT_FALSE(tabA.resumed());
    tabA.command(kInit);
    tabA.command(addFile(1, server.url("/a.bin")));
    tabA.command(addFile(2, server.url("/b.bin")));
    tabA.command(kStart);
    ASSERT_FALSE(readThrough(tabA, "down_begin", 1).empty());  // a.bin now waits half-way

    // The second tab numbers its tasks from 1 too; its "init" does not empty the first one's queue.
    SessionClient tabB(serve.port(), serve.origin(), kKeyB, "b1");
    ASSERT_TRUE(tabB.hello());
    tabB.command(kInit);
    tabB.command(addFile(1, server.url("/b.bin")));
    tabB.command(kStart);
    const auto seenByB = readThrough(tabB, "down_complete", 1);
    for (size_t i = 0; i < seenByB.size(); ++i) {
        EXPECT_EQ(seenByB[i].number, i + 1);
        EXPECT_EQ(seenByB[i].text.find("a.bin"), std::string::npos) << seenByB[i].text;
    }
    // Pages rules hold in every session: a folder the user did not allow is refused.
    tabB.command(R"({"name":"init","config":{"Folder":"/"}})");
    tabB.command(addFile(5, server.url("/b.bin?refused")));
    tabB.command(kStart);
    const auto refused = readThrough(tabB, "down_error", 5);
    EXPECT_EQ(refused.back().json["code"], 2) << refused.back().text;

    // Tab A's socket drops without a close, nothing acknowledged; its downloads go on.
    tabA.drop();
    gate->open();
    ASSERT_TRUE(eventually([&] { return requestsFor(server, "/b.bin") == 2; }));

    SessionClient back(serve.port(), serve.origin(), kKeyA, "a1");
    ASSERT_TRUE(back.hello());
    EXPECT_TRUE(back.resumed());
    EXPECT_EQ(back.acked(), 4u);
    // The page sends again what it could not know arrived: the session has it already.
    back.command(3, addFile(2, server.url("/b.bin")));
    back.command(4, kStart);
    const auto events = readThrough(back, "queue_end");
    for (size_t i = 0; i < events.size(); ++i)
        EXPECT_EQ(events[i].number, i + 1) << events[i].text;
    EXPECT_EQ(count(events, "queue_begin"), 1u);
    EXPECT_EQ(count(events, "down_complete", 1), 1u);
    EXPECT_EQ(count(events, "down_complete", 2), 1u);
    EXPECT_EQ(count(events, "down_error"), 0u);
    EXPECT_EQ(requestsFor(server, "/a.bin"), 1u);
    EXPECT_EQ(requestsFor(server, "/b.bin"), 2u);  // once for each tab
    EXPECT_EQ(TempFolder::readFile(downloads.path() / "a.bin"), a);
    EXPECT_EQ(TempFolder::readFile(downloads.path() / "b (1).bin"), b);
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// A task sent again by a page of the same tab (a reload of a page that sends all its tasks
// again) is the same task: while it runs nothing starts, and when it ended while the page was
// away the page receives its ending once, from the session, and nothing runs again. Once the
// page has seen the ending, sending it again is a new run (the demo page's "Resume").
TEST(Sessions, ATaskSentAgainIsTheSameTask)
{
    TempFolder downloads;
    FixtureServer server;
    const auto gate = std::make_shared<Gate>();
    const std::string c = TempFolder::pattern(300 * 1024);
    server.on("/c.bin", gated(c, gate));
    const GateOpener opener{gate};
    ServeProcess serve({}, {{"XDG_DOWNLOAD_DIR", downloads.path().string()}});
    const std::string task = addFile(3, server.url("/c.bin"));

    SessionClient first(serve.port(), serve.origin(), kKeyA, "p1");
    first.command(kInit);
    first.command(task);
    first.command(kStart);
    ASSERT_FALSE(readThrough(first, "down_begin", 3).empty());
    first.command(task);  // while it runs
    first.drop();

    SessionClient reload(serve.port(), serve.origin(), kKeyA, "p2");
    ASSERT_TRUE(reload.hello());
    EXPECT_TRUE(reload.resumed());
    EXPECT_EQ(reload.acked(), 0u) << "a new page numbers its commands from 1";
    reload.command(kInit);
    reload.command(task);
    reload.command(kStart);
    reload.drop();  // gone again before the task ends
    gate->open();
    ASSERT_TRUE(eventually([&] { return TempFolder::readFile(downloads.path() / "c.bin").size() == c.size(); }));

    SessionClient again(serve.port(), serve.origin(), kKeyA, "p3");
    again.command(task);
    // The answer to this "init" follows those of the two pages before: every event the task
    // brought is read by then, but for an ending that was still on its way.
    again.command(R"({"name":"init","config":{"ThreadCount":2}})");
    auto events = readThrough(again, "load_complete", -1, 3);
    if (count(events, "down_complete", 3) == 0)
        events = readThrough(again, "down_complete", 3);
    size_t completions = count(events, "down_complete", 3);
    EXPECT_EQ(completions, 1u);
    EXPECT_EQ(requestsFor(server, "/c.bin"), 1u);

    // Seen and acknowledged: now the same command asks for a new run.
    again.acknowledge(again.lastEvent());
    again.command(task);
    again.command(kStart);
    ASSERT_FALSE(readThrough(again, "down_complete", 3).empty());
    EXPECT_EQ(requestsFor(server, "/c.bin"), 2u);

    // A reload's "init" drops a task that waited; its copy, sent right behind the "init", is held
    // until the host has said that the task was not running, and then runs once.
    const std::string d = TempFolder::pattern(64 * 1024);
    server.on("/d.bin", FixtureServer::rangedFile(d));
    const std::string waiting = addFile(4, server.url("/d.bin"));
    SessionClient page(serve.port(), serve.origin(), kKeyB, "q1");
    page.command(kInit);
    page.command(waiting);
    ASSERT_FALSE(readThrough(page, "load_complete").empty());
    page.drop();
    SessionClient reloaded(serve.port(), serve.origin(), kKeyB, "q2");
    reloaded.command(kInit);
    reloaded.command(waiting);
    reloaded.command(kStart);
    events = readThrough(reloaded, "queue_complete");
    EXPECT_EQ(count(events, "down_complete", 4), 1u);
    EXPECT_EQ(requestsFor(server, "/d.bin"), 1u);
    EXPECT_EQ(TempFolder::readFile(downloads.path() / "d.bin"), d);
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// A tab the browser copied (sessionStorage and all) gets a session of its own while the page it
// was copied from answers; a reload whose old page is gone but did not close its socket takes
// the session over, and the old page is told so.
TEST(Sessions, ACopiedTabGetsItsOwnSessionAndAReloadTakesItOver)
{
    ServeProcess serve;
    SessionClient original(serve.port(), serve.origin(), kKeyA, "first");
    original.command(kInit);
    ASSERT_FALSE(readThrough(original, "load_complete").empty());

    SessionClient copy(serve.port(), serve.origin(), kKeyA, "copy");
    ASSERT_TRUE(original.answerPing());  // the page the copy was made from is there
    ASSERT_TRUE(copy.hello()) << copy.closeCode() << " " << copy.closeReason();
    EXPECT_NE(copy.session(), kKeyA);
    EXPECT_FALSE(copy.resumed());
    copy.command(kInit);
    const auto ownEvents = readThrough(copy, "load_complete");
    EXPECT_EQ(ownEvents.front().number, 1u) << "a session of its own";

    // The original page no longer reads (its tab reloaded and it has not gone yet).
    SessionClient reload(serve.port(), serve.origin(), kKeyA, "second");
    ASSERT_TRUE(reload.hello());
    EXPECT_EQ(reload.session(), kKeyA);
    EXPECT_TRUE(reload.resumed());
    EXPECT_EQ(reload.next()->number, 1u) << "nothing was acknowledged: it all comes again";
    SessionClient::Event last;
    while (auto event = original.next())
        last = *event;
    EXPECT_EQ(original.closeCode(), 4000);
    EXPECT_NE(original.closeReason().find("took the session over"), std::string::npos) << original.closeReason();
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// A session lives on while its downloads run, whoever is attached, and for its grace period
// after; then its host ends and a page of the tab starts a new session.
TEST(Sessions, ADetachedSessionLivesWhileItDownloadsAndForItsGracePeriod)
{
    TempFolder downloads;
    FixtureServer server;
    const auto gate = std::make_shared<Gate>();
    server.on("/d.bin", gated(TempFolder::pattern(100 * 1024), gate));
    const GateOpener opener{gate};
    ServeProcess serve({"--grace", "1"}, {{"XDG_DOWNLOAD_DIR", downloads.path().string()}});

    SessionClient page(serve.port(), serve.origin(), kKeyA, "p");
    page.command(kInit);
    page.command(addFile(1, server.url("/d.bin")));
    page.command(kStart);
    ASSERT_FALSE(readThrough(page, "down_begin", 1).empty());
    page.close();
    // Longer than the grace period, and the download still runs.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(serve.hosts().size(), 1u);
    gate->open();

    SessionClient back(serve.port(), serve.origin(), kKeyA, "p");
    ASSERT_TRUE(back.hello());
    EXPECT_TRUE(back.resumed());
    ASSERT_FALSE(readThrough(back, "down_complete", 1).empty());
    back.acknowledge(back.lastEvent());
    back.close();

    // Idle and alone: the host ends after the grace period.
    ASSERT_TRUE(eventually([&] { return serve.hosts().empty(); }));
    SessionClient later(serve.port(), serve.origin(), kKeyA, "p");
    ASSERT_TRUE(later.hello());
    EXPECT_FALSE(later.resumed());
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// Thirty-two sessions live at once; the next page is refused with a reason it can show, unless
// a detached idle session can make room.
TEST(Sessions, ThirtyTwoAtOnceAndTheNextIsRefusedWithItsReason)
{
    ServeProcess serve;
    std::vector<std::unique_ptr<SessionClient>> tabs;
    for (int i = 0; i < 32; ++i) {
        const std::string key = "tab" + std::to_string(100 + i) + std::string(26, 'k');
        tabs.push_back(std::make_unique<SessionClient>(serve.port(), serve.origin(), key, "p"));
        tabs.back()->command(kInit);
        ASSERT_FALSE(readThrough(*tabs.back(), "load_complete").empty()) << i;
    }
    for (const std::string& protocol : {std::string("zelvorn.1"), std::string("")}) {
        PageClient refused(serve.port(), serve.origin(), "", "/control?session=one-too-many-tabs&page=p", protocol);
        ASSERT_TRUE(refused.open());
        EXPECT_FALSE(refused.read());
        EXPECT_EQ(refused.closeCode(), 4029);
        EXPECT_NE(refused.closeReason().find("32 sessions"), std::string::npos) << refused.closeReason();
    }
    EXPECT_EQ(serve.hosts().size(), 32u);

    // The first tab goes; its idle session makes room for the next page at once.
    tabs.front()->close();
    ASSERT_TRUE(eventually([&] {
        SessionClient next(serve.port(), serve.origin(), "one-more-tab-0123456789", "p");
        return next.hello();
    }));
    EXPECT_NE(serve.errors().find("32 sessions open"), std::string::npos) << serve.errors();
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// Pages attach to their sessions and go a thousand times, and pages of the plain protocol come
// and go with a session each: neither memory nor threads nor processes stay behind.
TEST(SessionsConcurrency, AThousandAttachDetachCyclesLeaveNothingBehind)
{
    // AddressSanitizer holds freed memory back to catch late uses of it; here the host's own
    // holdings are measured, so it gets freed memory back at once (other builds ignore this).
    const char* inherited = std::getenv("ASAN_OPTIONS");
    ServeProcess serve({}, {{"ASAN_OPTIONS", std::string(inherited ? inherited : "") + ":quarantine_size_mb=0"}});
    const std::vector<std::string> keys{kKeyA, kKeyB, "cccccccccccccccccccccccccccccccc"};
    auto cycle = [&](int count) {
        for (int i = 0; i < count; ++i) {
            SessionClient page(serve.port(), serve.origin(), keys[static_cast<size_t>(i) % keys.size()],
                               "page" + std::to_string(i));
            page.command(kInit);
            ASSERT_FALSE(readThrough(page, "load_complete").empty());
            page.acknowledge(page.lastEvent());
            page.close();
        }
    };
    auto plain = [&](int count) {
        for (int i = 0; i < count; ++i) {
            PageClient page(serve.port(), serve.origin());
            page.send(kInit);
            ASSERT_TRUE(page.readUntil("load_complete"));
            page.close();
        }
    };
    // Warm up: allocator pools, the registry read.
    cycle(200);
    plain(20);
    ASSERT_TRUE(eventually([&] { return serve.hosts().size() == keys.size(); }));
    [[maybe_unused]] const size_t memoryBefore = serve.residentBytes();  // unread under TSan
    const int threadsBefore = serve.threads();
    cycle(1000);
    plain(50);
    // The plain pages' sessions end once their socket has closed.
    EXPECT_TRUE(eventually([&] { return serve.hosts().size() == keys.size(); })) << serve.hosts().size();
    EXPECT_TRUE(eventually([&] { return serve.threads() <= threadsBefore; }));
#if !defined(__SANITIZE_THREAD__)  // ThreadSanitizer keeps what it saw of every thread that ran
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's allocator and its shadow pages grow in larger steps than the host's
    // memory does: a session's leak is caught by the plain build's bound.
    const size_t allowed = 3 * 1024 * 1024;
#else
    const size_t allowed = 1536 * 1024;
#endif
    const size_t memoryAfter = serve.residentBytes();
    EXPECT_LT(memoryAfter, memoryBefore + allowed) << "before " << memoryBefore << " after " << memoryAfter;
#endif
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// A serve that is killed takes the hosts of its sessions with it: none goes on writing files.
TEST(Sessions, AKilledServeLeavesNoHostBehind)
{
    TempFolder downloads;
    FixtureServer server;
    const auto gate = std::make_shared<Gate>();
    server.on("/e.bin", gated(TempFolder::pattern(100 * 1024), gate));
    const GateOpener opener{gate};
    ServeProcess serve({}, {{"XDG_DOWNLOAD_DIR", downloads.path().string()}});
    SessionClient page(serve.port(), serve.origin(), kKeyA, "p");
    page.command(kInit);
    page.command(addFile(1, server.url("/e.bin")));
    page.command(kStart);
    ASSERT_FALSE(readThrough(page, "down_begin", 1).empty());
    const auto hosts = serve.hosts();
    ASSERT_EQ(hosts.size(), 1u);

    serve.kill();
    EXPECT_TRUE(eventually([&] { return !running(hosts.front()); }));
    // Past the events already on their way, the page's socket closes: no host holds it open.
    int events = 0;
    while (page.next() && events < 1000)
        ++events;
    EXPECT_LT(events, 1000);
}
