// IDownloadQueue: what a host asks the control about the process's download queue, beside
// what the page scripts: whether work is still going on, to be told when it is over, which
// tasks run, and a stop of everything (a host that is told to end stops the queue and waits until every job
// has reported its end). Called on the control's apartment thread, like every member of the
// control.
#pragma once

#include "platform/Unknown.h"

#include <functional>
#include <vector>

inline const GUID IID_IDownloadQueue = {0x22516212, 0xB171, 0x4FC9, {0x86, 0xED, 0x09, 0x71, 0x30, 0x4F, 0xE3, 0x33}};

struct IDownloadQueue : IUnknown {
    static const GUID& uuid() { return IID_IDownloadQueue; }

    // True while a queue runs, a job still has events to send, or events are on their way to
    // the page.
    virtual HRESULT IsBusy(bool* busy) = 0;
    // `idle` runs once, on whichever thread ends the last of that work (at once, here, when
    // nothing is busy): a host waits for it on a thread of its own, never on the page's.
    virtual HRESULT AdviseIdle(std::function<void()> idle) = 0;
    // Stops the queue and every running job; does not wait.
    virtual HRESULT StopQueue() = 0;
    // The ids of the tasks the queue has taken and whose jobs have not yet ended, each once:
    // what "init" leaves running while it drops what waits.
    virtual HRESULT RunningTasks(std::vector<int>* ids) = 0;
};
