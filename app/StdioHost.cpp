#include "StdioHost.h"

#include "HostedControl.h"
#include "LineReader.h"

#include <mutex>
#include <string>

namespace {

// The running host's control, for the signal thread: set once the control exists.
std::mutex hostLock;
std::shared_ptr<HostedControl> hostControl;  // guarded by hostLock

std::shared_ptr<HostedControl> runningControl()
{
    std::lock_guard<std::mutex> lock(hostLock);
    return hostControl;
}

}  // namespace

int runStdioHost(std::istream& in, std::FILE* out)
{
    // The listener runs on the control's apartment thread only, so writes to `out` never
    // interleave. The lines of the events delivered together go out in one write, once the
    // last of them is delivered.
    struct Output {
        std::weak_ptr<HostedControl> host;  // set once the control exists
        bool flushQueued = false;           // apartment thread only
    };
    auto output = std::make_shared<Output>();
    auto control = HostedControl::create([out, output](const std::string& event) {
        std::fwrite(event.data(), 1, event.size(), out);
        std::fputc('\n', out);
        if (output->flushQueued)
            return;
        const auto host = output->host.lock();
        output->flushQueued = host && host->afterEvents([out, output] {
            output->flushQueued = false;
            std::fflush(out);
        });
        if (!output->flushQueued)
            std::fflush(out);
    });
    if (!control)
        return 1;
    control->onPage([&] { output->host = control; });
    {
        std::lock_guard<std::mutex> lock(hostLock);
        hostControl = control;
    }

    const size_t limit = HostedControl::kMaxCommandBytes;
    LineReader reader(in, limit);
    std::string line;
    for (unsigned long number = 1;; ++number) {
        const LineReader::Outcome outcome = reader.next(line);
        if (outcome == LineReader::Outcome::end)
            break;
        if (outcome == LineReader::Outcome::tooLong) {
            std::fprintf(stderr, "zelvorn: line %lu skipped: longer than %zu bytes\n", number, limit);
            continue;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        control->post(line);
    }
    control->waitForQueueEnd();
    std::lock_guard<std::mutex> lock(hostLock);
    hostControl.reset();
    return 0;
}

void waitForQueueEnd()
{
    if (auto control = runningControl())
        control->waitForQueueEnd();
}

void stopQueue()
{
    if (auto control = runningControl())
        control->stopQueue();
}
