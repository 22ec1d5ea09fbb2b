// HostedControl: one control embedded the way a browser embeds it: created by its ProgID inside an
// apartment of the host's own, handed a script function for its events through `recvMessage`, and
// scripted by name (`postMessage`) as a page's script does. Beside that it holds the control's
// IDownloadQueue, through which a host waits for the queue or stops it.
//
// Shared by the host that creates it and, for a stop, that host's signal thread; it lives until the
// last of them lets it go, and then releases the control on its apartment. Every member may be
// called from any thread. The listener runs on the apartment thread, one event at a time.
#pragma once

#include "hosting/DownloadQueue.h"
#include "platform/Apartment.h"
#include "platform/Dispatch.h"
#include "support/ThreadChecker.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class HostedControl {
    struct Token {};

public:
    // Receives each event as UTF-8 JSON text, without a line feed.
    // The event's text without its line feed; valid for the call only.
    using Listener = std::function<void(std::string_view event)>;

    // The control, ready for commands. Its commands come from the user, or with a `pageOrigin`
    // from a page (an extension) of that origin, whose rules then apply (HostSite). Null when it
    // cannot be created, after a message on standard error (for a missing registration the
    // message names the command that fixes it).
    static std::shared_ptr<HostedControl> create(Listener listener, std::string pageOrigin = "");

    explicit HostedControl(Token);
    ~HostedControl();
    HostedControl(const HostedControl&) = delete;
    HostedControl& operator=(const HostedControl&) = delete;

    // One postMessage of `command` (UTF-8). Returns once the control has handled it: the events it
    // answers with at once have reached the listener.
    void post(const std::string& command);
    // The same for several commands, in their order, with one hand-over to the apartment thread;
    // each is moved to the control, not copied.
    void post(std::vector<std::string>&& commands);
    // Runs `call` on the apartment thread, in order with the events; false when it did not run.
    bool onPage(const std::function<void()>& call);
    // Queues `call` on the apartment thread and returns at once: it runs once the events being
    // delivered now have reached the listener. False when the apartment has ended.
    bool afterEvents(std::function<void()> call);
    // True while a queue runs or a job still has events to send. On the apartment thread too.
    bool busy();
    // Queues `call` on the apartment thread and returns at once: it runs after the events, once
    // no queue runs and no job has events to send. False when the apartment has ended.
    bool whenIdle(std::function<void()> call);
    // Returns once no queue runs and every job has sent its last event.
    void waitForQueueEnd();
    // Stops the queue and every running job; does not wait.
    void stopQueue();
    // The ids of the tasks whose jobs run, each once. On the apartment thread too.
    std::vector<int> runningTasks();

private:
    std::shared_ptr<Apartment> page;  // set by create(), then read-only
    ThreadChecker apartmentThread;    // bound to the apartment's thread by create()
    ComPtr<IDispatch> control;        // apartment thread only
    ComPtr<IDownloadQueue> queue;     // apartment thread only; null when the control has none
};
