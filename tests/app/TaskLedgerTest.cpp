// What a session keeps for its page, on its own: the numbered events a page has not acknowledged
// (EventOutbox) and what it knows of the tasks (TaskLedger).
#include "serve/EventOutbox.h"
#include "serve/TaskLedger.h"

#include <gtest/gtest.h>

namespace {

const std::string kFile = R"({"name":"add_file","id":7,"fileUrl":"http://h/f.bin"})";

std::string event(const std::string& name, const std::string& more = "")
{
    return R"({"id":7,"name":")" + name + "\"" + more + "}\n";
}

// Sends `text` as the control would: into the outbox, and to the ledger with its number.
uint64_t emit(EventOutbox& outbox, TaskLedger& ledger, const std::string& text)
{
    const uint64_t number = outbox.push(text).number;
    ledger.event(text, number);
    return number;
}

}  // namespace

TEST(EventOutbox, KeepsWhatThePageHasNotAcknowledgedWithinItsBound)
{
    EventOutbox outbox(100);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(outbox.push(std::string(20, 'a' + static_cast<char>(i))).number, static_cast<uint64_t>(i + 1));
    outbox.acknowledge(2);
    ASSERT_EQ(outbox.unacknowledged().size(), 2u);
    EXPECT_EQ(outbox.unacknowledged().front().number, 3u);
    EXPECT_FALSE(outbox.holds(2));
    EXPECT_TRUE(outbox.holds(4));
    outbox.acknowledge(99);  // past the last: the last
    EXPECT_EQ(outbox.acknowledged(), 4u);
    EXPECT_TRUE(outbox.unacknowledged().empty());

    // Past the bound the oldest go unseen: the page is told once, and they do not count as seen.
    for (int i = 0; i < 6; ++i)
        outbox.push(std::string(30, 'x'));
    EXPECT_EQ(outbox.unacknowledged().size(), 3u);
    EXPECT_EQ(outbox.unacknowledged().front().number, 8u);
    EXPECT_EQ(outbox.acknowledged(), 4u);
    EXPECT_TRUE(outbox.takeLost());
    EXPECT_FALSE(outbox.takeLost());
    // An event larger than the bound is still kept until it is sent.
    EXPECT_EQ(outbox.push(std::string(500, 'y')).number, 11u);
    EXPECT_EQ(outbox.unacknowledged().size(), 1u);
}

TEST(TaskLedger, ATaskSentAgainRunsAgainOnlyOnceThePageHasSeenItsEnd)
{
    EventOutbox outbox(1024);
    TaskLedger ledger;
    EXPECT_TRUE(ledger.command(kFile, outbox).forward);
    EXPECT_FALSE(ledger.command(kFile, outbox).forward) << "waiting";
    emit(outbox, ledger, event("down_begin"));
    EXPECT_FALSE(ledger.command(kFile, outbox).forward) << "running";
    // Another URL under the same id is another task: the control decides.
    EXPECT_TRUE(ledger.command(R"({"name":"add_file","id":7,"fileUrl":"http://h/other.bin"})", outbox).forward);
    EXPECT_TRUE(ledger.command(kFile, outbox).forward);

    emit(outbox, ledger, event("down_recv_name", R"(,"pathLoc":"/d/f.bin")"));
    emit(outbox, ledger, event("down_process", R"(,"lenLoc":10)"));
    emit(outbox, ledger, event("down_process", R"(,"lenLoc":20)"));
    emit(outbox, ledger, event("down_error", R"(,"code":1)"));
    const uint64_t end = emit(outbox, ledger, event("down_stoped"));
    // Its end has not reached the page yet, but is on its way: nothing more.
    auto verdict = ledger.command(kFile, outbox);
    EXPECT_FALSE(verdict.forward);
    EXPECT_TRUE(verdict.replay.empty());

    // Its end was lost: the page hears what it needs of that run again, and nothing runs.
    EventOutbox tiny(10);
    tiny.push(std::string(20, 'z'));
    for (uint64_t n = 0; n < end; ++n)
        tiny.push("e");
    tiny.push(std::string(20, 'z'));  // everything up to `end` is gone unseen
    ASSERT_FALSE(tiny.holds(end));
    verdict = ledger.command(kFile, tiny);
    EXPECT_FALSE(verdict.forward);
    const std::vector<std::string> told{event("down_recv_name", R"(,"pathLoc":"/d/f.bin")"),
                                        event("down_process", R"(,"lenLoc":20)"), event("down_error", R"(,"code":1)"),
                                        event("down_stoped")};
    EXPECT_EQ(verdict.replay, told);

    // Seen: sent again, it is a new run.
    outbox.acknowledge(end);
    EXPECT_TRUE(ledger.command(kFile, outbox).forward);
    EXPECT_FALSE(ledger.command(kFile, outbox).forward);
}

TEST(TaskLedger, InitAndStopDropOnlyTasksThatHaveNotStarted)
{
    EventOutbox outbox(1024);
    TaskLedger ledger;
    const std::string folder =
        R"({"name":"add_folder","id":8,"files":[{"fileUrl":"http://h/a"},{"fileUrl":"http://h/b"}]})";
    ledger.command(kFile, outbox);
    ledger.command(folder, outbox);
    emit(outbox, ledger, R"({"id":8,"name":"down_begin","folder":true})");
    ledger.command(R"({"name":"init","config":{}})", outbox);  // changes nothing, as in the control
    EXPECT_FALSE(ledger.command(kFile, outbox).forward);
    // Whether "init" dropped a task that waited or the queue had just taken it, only the host can
    // say; what it answers settles the task.
    const std::string init = R"({"name":"init","config":{"ThreadCount":2}})";
    EXPECT_TRUE(ledger.command(init, outbox).askRunning);
    ledger.settle({});
    EXPECT_TRUE(ledger.command(kFile, outbox).forward) << "init dropped it";
    EXPECT_FALSE(ledger.command(folder, outbox).forward) << "the folder runs on";
    EXPECT_TRUE(ledger.command(init, outbox).askRunning);
    ledger.settle({7});
    EXPECT_FALSE(ledger.command(kFile, outbox).forward) << "taken by the queue just before init";
    EXPECT_FALSE(ledger.command(init, outbox).askRunning) << "nothing waits";
    outbox.acknowledge(emit(outbox, ledger, R"({"id":7,"name":"down_stoped"})"));
    EXPECT_TRUE(ledger.command(kFile, outbox).forward) << "a new run, asked for after its end";
    ledger.command(R"({"name":"stop_file","id":7})", outbox);
    EXPECT_TRUE(ledger.command(kFile, outbox).forward) << "stop_file dropped it";

    // A folder ends with its own completion, not with one of its files'.
    emit(outbox, ledger, R"({"id":8,"name":"down_complete","all":false,"file":{"id":0}})");
    EXPECT_FALSE(ledger.command(folder, outbox).forward);
    outbox.acknowledge(emit(outbox, ledger, R"({"id":8,"name":"down_complete","all":true})"));
    EXPECT_TRUE(ledger.command(folder, outbox).forward);

    // Whatever is not a task command passes untouched.
    for (const char* text : {"not json", "[1]", R"({"name":"add_file","id":"7"})", R"({"name":5})"})
        EXPECT_TRUE(ledger.command(text, outbox).forward) << text;
}
