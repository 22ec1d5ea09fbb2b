// TaskLedger: what a session knows of the tasks its pages sent, so that a task sent again is the
// same task. An "add_file" or "add_folder" whose id waits or runs in the session for the same
// URL (or the same files) starts nothing new: the page goes on receiving that task's events. One
// whose last run has ended is run again only when the page has seen how it ended (it asks for a
// new run, as "Resume" does); otherwise the page is about to receive its ending (it waits in the
// outbox), or, when those events were dropped, the ledger answers with them again.
//
// It follows the control: "stop_file" drops a waiting task, "init" every task that has not
// started. Which of them the queue took just before "init" only the control knows, so after an
// "init" the session asks the host which tasks run (Verdict::askRunning), holds the page's next
// commands, and hands the answer to settle() before it passes them on. It remembers every task
// until its session ends.
//
// Owned by its session; used on the session's strand only.
#pragma once

#include "EventOutbox.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class TaskLedger {
public:
    struct Verdict {
        bool forward = true;              // the control gets the command
        std::vector<std::string> replay;  // events to send the page again instead
        bool askRunning = false;          // after the command, ask the host which tasks run
    };

    // A command from the page; `outbox` says which events the page has seen.
    Verdict command(const std::string& text, const EventOutbox& outbox);
    // An event of the control, with its number.
    void event(const std::string& text, uint64_t number);
    // The host's answer after an "init": the ids of the tasks that run. The tasks that waited
    // when the "init" came and are not among them were dropped.
    void settle(const std::vector<int64_t>& running);

private:
    struct Task {
        bool folder = false;
        std::string source;  // the URL, or the URLs of a folder's files
        // unsure: waiting when an "init" came; the host has not yet said whether it runs.
        enum class State { waiting, unsure, running, ended } state = State::waiting;
        // The events that tell a page what the last run did (its path, lengths and last
        // progress), and how it ended, with the number of its last ending event.
        std::map<std::string, std::string> story;
        std::vector<std::string> endings;
        uint64_t ended = 0;
    };

    Verdict add(int64_t id, bool folder, std::string source, const EventOutbox& outbox);

    std::map<int64_t, Task> tasks;
};
