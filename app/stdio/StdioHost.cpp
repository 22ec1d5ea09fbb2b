#include "StdioHost.h"

#include "LineReader.h"
#include "host/HostedControl.h"
#include "host/StopRequest.h"
#include "host/StopSignals.h"
#include "hosting/Protocol.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Lines that have arrived together go to the control together, up to these bounds: a script
// that queues thousands of tasks does not wait for the control's thread once per line.
constexpr size_t kMaxBatchLines = 256;
constexpr size_t kMaxBatchBytes = 1024 * 1024;

// Posts every line of `in` to the control, up to the end of the input.
void postLines(std::istream& in, HostedControl& control)
{
    const size_t limit = Protocol::kMaxCommandBytes;
    LineReader reader(in, limit);
    std::string line;
    std::vector<std::string> batch;
    size_t batchBytes = 0;
    for (unsigned long number = 1;; ++number) {
        const LineReader::Outcome outcome = reader.next(line);
        if (outcome == LineReader::Outcome::end)
            break;
        if (outcome == LineReader::Outcome::tooLong) {
            std::fprintf(stderr, "zelvorn: line %lu skipped: longer than %zu bytes\n", number, limit);
        } else {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            batchBytes += line.size();
            batch.push_back(std::move(line));
        }
        // What has been read goes out before the reader could wait for input. A line that has
        // begun to arrive is read to its end first: writers write a command in one go.
        const bool more = in.rdbuf()->in_avail() > 0;
        if (!batch.empty() && (!more || batch.size() == kMaxBatchLines || batchBytes >= kMaxBatchBytes)) {
            control.post(std::move(batch));
            batch.clear();
            batchBytes = 0;
        }
    }
    if (!batch.empty())
        control.post(std::move(batch));
}

}  // namespace

int runStdioHost(std::istream& in, std::FILE* out)
{
    // SIGINT or SIGTERM stops the queue, waits until its jobs have reported their end, and ends
    // the process.
    static StopRequest* stop = new StopRequest();  // the signal thread may use it until the exit
    static std::FILE* const events = out;
    StopSignals::start([](int signal) {
        if (auto control = stop->ask(signal))
            control->waitForQueueEnd();
        std::fflush(events);
        std::_Exit(128 + signal);
    });
    // The listener runs on the control's apartment thread only, so writes to `out` never
    // interleave. The lines of the events delivered together go out in one write, once the
    // last of them is delivered.
    struct Output {
        std::weak_ptr<HostedControl> host;  // set once the control exists
        bool flushQueued = false;           // apartment thread only
    };
    auto output = std::make_shared<Output>();
    auto control = HostedControl::create([out, output](std::string_view event) {
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
    stop->watch(control);

    postLines(in, *control);
    control->waitForQueueEnd();
    return 0;
}
