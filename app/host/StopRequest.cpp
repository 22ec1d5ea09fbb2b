#include "StopRequest.h"

std::shared_ptr<HostedControl> StopRequest::ask(int signal)
{
    // Recorded before the control is looked up: a command that publishes its control after this
    // lookup sees the signal when it next checks, before it starts the queue.
    asked.store(signal);
    std::shared_ptr<HostedControl> control;
    {
        std::lock_guard<std::mutex> guard(lock);
        control = watched.lock();
    }
    if (control)
        control->stopQueue();
    return control;
}

void StopRequest::watch(const std::shared_ptr<HostedControl>& control)
{
    std::lock_guard<std::mutex> guard(lock);
    watched = control;
}
