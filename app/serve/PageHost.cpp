#include "PageHost.h"

#include "HostFrame.h"
#include "QueueReport.h"
#include "host/FrameReader.h"
#include "host/HostedControl.h"
#include "host/StopRequest.h"
#include "host/StopSignals.h"
#include "support/JsonText.h"
#include "support/WriteAll.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Every frame the host sends goes out on the control's apartment thread (events come there),
// so frames never interleave.
class Output {
public:
    explicit Output(int fd) : out(fd) {}
    void send(HostFrame::Kind kind, std::string_view text = {})
    {
        if (!gone && !writeAll(out, HostFrame::encode(kind, text)))
            gone = true;  // serve has gone: its death signal ends this host
    }

private:
    const int out;
    bool gone = false;
};

// Answers serve's frames until it asks the host to quit while the queue is idle (true) or its
// input ends (false).
bool answerFrames(int in, HostedControl& control, QueueReport& queue, Output& output)
{
    FrameReader reader(in, HostFrame::kMaxBytes);
    std::string bytes, text;
    uint32_t length = 0;
    for (;;) {
        const FrameReader::Outcome outcome = reader.next(bytes, length);
        if (outcome == FrameReader::Outcome::end || outcome == FrameReader::Outcome::truncated)
            return false;
        HostFrame::Kind kind;
        if (outcome == FrameReader::Outcome::tooLong || !HostFrame::decode(bytes, kind, text)) {
            std::fprintf(stderr, "zelvorn page-host: a message of %u bytes skipped\n", length);
            continue;
        }
        bool busy = true;
        if (kind == HostFrame::Kind::command) {
            control.post(text);
            control.onPage([&] { queue.look(); });
        } else if (kind == HostFrame::Kind::tasks) {
            Json::Value ids(Json::arrayValue);
            for (int id : control.runningTasks())
                ids.append(id);
            control.onPage([&] { output.send(HostFrame::Kind::running, writeCompactJson(ids)); });
        } else if (kind == HostFrame::Kind::quit && control.onPage([&] { busy = queue.look(true); }) && !busy) {
            return true;
        }
    }
}

}  // namespace

int runPageHost(int in, int out, const std::string& origin, pid_t parent)
{
    // A serve that dies, even killed, takes its hosts with it, so that none goes on writing
    // files for a page nobody can reach. Asked before the check, so a parent that died in
    // between is noticed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        return 1;
    static StopRequest* stop = new StopRequest();  // the signal thread may use it until the exit
    StopSignals::start([](int signal) {
        if (auto control = stop->ask(signal))
            control->waitForQueueEnd();
        std::_Exit(128 + signal);
    });
    std::signal(SIGPIPE, SIG_IGN);

    auto output = std::make_shared<Output>(out);
    auto control = HostedControl::create(
        [output](std::string_view event) { output->send(HostFrame::Kind::event, event); }, origin);
    if (!control) {
        output->send(HostFrame::Kind::failed,
                     "the control for " + origin + " cannot be created; run: zelvorn register --user");
        return 1;
    }
    stop->watch(control);

    const auto queue = std::make_shared<QueueReport>(
        control, [output](bool busy) { output->send(busy ? HostFrame::Kind::busy : HostFrame::Kind::idle); });

    if (answerFrames(in, *control, *queue, *output))
        return 0;
    control->stopQueue();
    control->waitForQueueEnd();
    return 0;
}
