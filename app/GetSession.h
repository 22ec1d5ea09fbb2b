// GetSession: the page of `zelvorn get`. It queues its tasks in one control, follows their events
// (each task keeps what a page saves, in its sidecar), shows their progress and outcome, and ends
// with the command's exit code.
//
// Owned by the get command for one run. run() is called once, on the command's thread; while the
// control exists, the tasks and the view are used on the control's apartment thread only (every
// event handler runs there), and the command's thread reads them again once the control is gone.
#pragma once

#include "GetTask.h"
#include "HostedControl.h"
#include "ProgressView.h"
#include "StopRequest.h"

#include <json/value.h>

#include <string>
#include <vector>

class GetSession {
public:
    GetSession(std::vector<GetTask> tasks, ProgressView& view);

    // Queues every task that needs it, with `init` sent first, and follows them to the end of the
    // queue. Returns the exit code: 0 when every task completed or was already done, 1 when one
    // failed (or the control could not be made), 128 + the signal when `stop` was asked.
    int run(const Json::Value& init, StopRequest& stop);

private:
    void onEvent(const std::string& text);
    GetTask* find(int id);
    // Saves the task's sidecar (see GetTask::keep); a task whose state cannot be kept is stopped,
    // so that no byte is stored that a later run could not account for.
    void keep(GetTask& task, bool force);

    std::vector<GetTask> tasks;
    ProgressView& view;
    HostedControl* control = nullptr;  // set before the first command; used on its apartment thread
};
