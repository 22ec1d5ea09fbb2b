// IDownloadQueue: what a host asks the control about the process's download queue, beside
// what the page scripts: whether work is still going on, and a stop of everything (a host
// that is told to end stops the queue and waits until every job has reported its end).
// Called on the control's apartment thread, like every member of the control.
#pragma once

#include "platform/Unknown.h"

extern const GUID IID_IDownloadQueue;

struct IDownloadQueue : IUnknown {
    static const GUID& uuid() { return IID_IDownloadQueue; }

    // True while a queue runs or a job still has events to send.
    virtual HRESULT IsBusy(bool* busy) = 0;
    // Stops the queue and every running job; does not wait.
    virtual HRESULT StopQueue() = 0;
};
