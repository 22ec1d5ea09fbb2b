// QueueReport: tells serve when the queue of a page host's control goes busy and when it is idle
// again, in order with the events, so that serve knows which sessions still download. It looks
// after every command; while the queue is busy, the control tells it when the work is over.
//
// Made by the page host for its control; shared (weakly) with the call that waits for the queue
// to go idle, which does nothing once the host has let it go. Apartment thread only.
#pragma once

#include "host/HostedControl.h"

#include <functional>
#include <memory>

class QueueReport : public std::enable_shared_from_this<QueueReport> {
public:
    QueueReport(std::shared_ptr<HostedControl> control, std::function<void(bool busy)> tell);

    // Looks at the queue and tells when it has changed since the last time, or with `always` in
    // any case. True while it is busy.
    bool look(bool always = false);

private:
    const std::shared_ptr<HostedControl> control;
    const std::function<void(bool busy)> tell;
    bool told = false;      // busy, as told last
    bool watching = false;  // a call waits for the queue to go idle
};
