#include "QueueReport.h"

QueueReport::QueueReport(std::shared_ptr<HostedControl> hosted, std::function<void(bool busy)> toServe)
    : control(std::move(hosted)), tell(std::move(toServe))
{
}

bool QueueReport::look(bool always)
{
    const bool busy = control->busy();
    if (busy != told || always)
        tell(busy);
    told = busy;
    if (busy && !watching)
        watching = control->whenIdle([weak = std::weak_ptr<QueueReport>(shared_from_this())] {
            if (auto self = weak.lock()) {
                self->watching = false;
                self->look();
            }
        });
    return busy;
}
