// GetSession: the page of `zelvorn get`. It queues its tasks in one control, follows their events
// (each task keeps what a page saves, in its sidecar), shows their progress and outcome, starts a
// file that changed on the server over once, and ends with a summary and the command's exit code.
//
// Owned by the get command for one run. run() is called once, on the command's thread; while the
// control exists, the tasks and the view are used on the control's apartment thread only (every
// event handler runs there), and the command's thread reads them again once the queue has ended.
#pragma once

#include "GetTask.h"
#include "ProgressView.h"
#include "host/HostedControl.h"
#include "host/StopRequest.h"

#include <json/value.h>

#include <string>
#include <vector>

class GetSession {
public:
    // The tasks download into `folder`.
    GetSession(std::vector<GetTask> tasks, std::string folder, ProgressView& view);

    // Queues every task that needs it, with `init` sent first, and follows them to the end of the
    // queue. Returns the exit code: 0 when every task completed or was already done, 1 when one
    // failed (or the control could not be made), 128 + the signal when `stop` was asked.
    int run(const Json::Value& init, StopRequest& stop);

private:
    // Runs `commands` in the control to the end of the queue, and again the tasks that start over.
    void runQueue(std::vector<Json::Value> commands, const Json::Value& init, StopRequest& stop, bool& created);
    void onEvent(const std::string& text);
    GetTask* find(int id);
    // Saves the task's sidecar (see GetTask::keep); a task whose state cannot be kept is stopped,
    // so that no byte is stored that a later run could not account for.
    void keep(GetTask& task, bool force);
    // "3 files complete: 4.20 MB in 2.5 s (1.68 MB/s)".
    std::string summary(double seconds) const;

    std::vector<GetTask> tasks;
    const std::string folder;
    ProgressView& view;
    HostedControl* control = nullptr;  // set before the first command; used on its apartment thread
};
