// AccessPrompt: asks the user, on the desktop (DesktopDialog), whether pages of an origin not yet
// known may use `zelvorn serve`, when such a page asks (HttpConnection's "/access"). A "yes" is
// stored in the user's settings file (OriginChoices), so it holds from then on. One question is
// on screen at a time: a page of the origin being asked about waits for its answer, any other is
// refused. After a "no", a closed dialog or one left unanswered for kAnswerTime, nobody is asked
// again for kQuiet: neither that origin nor another, so a site cannot wear the user down with
// questions, neither under one name nor under many. Without a desktop, or without zenity and
// kdialog, nobody is asked and the page is told why.
//
// Owned by the server for its life; any thread. The question runs on a thread of its own, which
// stop() ends (the dialog with it) and joins; answers are handed over on that thread.
#pragma once

#include "platform/DesktopDialog.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class AccessPrompt {
public:
    static constexpr std::chrono::minutes kQuiet{10};
    static constexpr std::chrono::minutes kAnswerTime{2};

    // `allowed` true once the origin is allowed; otherwise `why` says why not.
    using Answer = std::function<void(bool allowed, const std::string& why)>;

    ~AccessPrompt();
    // Asks about `origin` (well formed, askable, neither allowed nor denied now) and calls `answer`
    // once: at once when nobody can be asked now, else when the user has answered.
    void ask(const std::string& origin, Answer answer);
    // Ends a question on screen (as unanswered) and waits for its thread.
    void stop();

private:
    void question(std::string origin);
    // Answers the pages waiting; `quiet` starts the time nobody is asked.
    void settle(bool allowed, const std::string& why, bool quiet);

    std::mutex lock;
    std::string asking;                                // guarded by lock: the origin on screen
    std::chrono::steady_clock::time_point askedAt;     // guarded by lock: when it was put
    std::vector<Answer> waiting;                       // guarded by lock: pages waiting for its answer
    std::chrono::steady_clock::time_point quietUntil;  // guarded by lock
    bool stopped = false;                              // guarded by lock
    std::thread dialog;                                // guarded by lock
    DesktopDialog::Ending ending;                      // ends the question's dialog
};
