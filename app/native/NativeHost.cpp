#include "NativeHost.h"

#include "EventBacklog.h"
#include "host/FrameReader.h"
#include "host/HostedControl.h"
#include "host/StopRequest.h"
#include "host/StopSignals.h"
#include "hosting/Protocol.h"
#include "support/JsonText.h"
#include "support/Text.h"
#include "support/WriteAll.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

// Bytes of waiting events past which progress events are merged: far more than a pipe holds.
const size_t kMergeProgressFrom = 1024 * 1024;
// How long the last events may take to reach a browser after a stop.
const std::chrono::seconds kLastEventsTime(5);

// Why a frame's text is no command; "" when it is one.
std::string refusal(const std::string& text)
{
    // A text that does not survive the trip to wide characters and back is not plain UTF-8, or
    // it holds a NUL, where the control's copy of it would end.
    if (toUtf8(fromUtf8(text)) != text)
        return "not UTF-8 text without NUL";
    Json::Value command;
    if (!parseJson(text, command) || !command.isObject())
        return "not a JSON object";
    return "";
}

// The events of the backlog, each a native-messaging frame, until it is closed and empty.
void writeEvents(int out, EventBacklog& backlog)
{
    bool gone = false;
    for (std::string event; backlog.pop(event);) {
        const uint32_t length = static_cast<uint32_t>(event.size());
        char prefix[sizeof length];
        std::memcpy(prefix, &length, sizeof length);
        if (!gone && !(writeAll(out, prefix, sizeof prefix) && writeAll(out, event.data(), event.size()))) {
            gone = true;  // the browser has gone; downloads go on to their end
            std::fprintf(stderr, "zelvorn: events can no longer be sent: %s\n", std::strerror(errno));
        }
    }
    backlog.done();
}

// Posts every well-formed message of `in` to the control; 1 when the input ends inside one.
int postCommands(int in, HostedControl& control)
{
    FrameReader reader(in, Protocol::kMaxCommandBytes);
    std::string body;
    uint32_t length = 0;
    for (unsigned long number = 1;; ++number) {
        const FrameReader::Outcome outcome = reader.next(body, length);
        if (outcome == FrameReader::Outcome::end)
            return 0;
        if (outcome == FrameReader::Outcome::truncated) {
            std::fprintf(stderr, "zelvorn: the input ended inside message %lu\n", number);
            return 1;
        }
        if (outcome == FrameReader::Outcome::tooLong) {
            std::fprintf(stderr, "zelvorn: message %lu refused: %u bytes, more than %zu\n", number, length,
                         Protocol::kMaxCommandBytes);
            continue;
        }
        const std::string why = refusal(body);
        if (!why.empty()) {
            std::fprintf(stderr, "zelvorn: message %lu refused: %s\n", number, why.c_str());
            continue;
        }
        control.post(body);
    }
}

}  // namespace

int runNativeHost(int in, int out, const std::string& caller)
{
    // Events wait here for the browser, so that one that reads slowly never holds up a transfer.
    // Never destroyed: the signal thread may use it until the exit.
    static EventBacklog* const backlog = new EventBacklog(kMergeProgressFrom);
    // A browser ends its host with SIGTERM: the queue stops and every job reports its end first,
    // then the events still waiting go out while the browser reads them.
    static StopRequest* stop = new StopRequest();  // the signal thread may use it until the exit
    StopSignals::start([](int signal) {
        if (auto control = stop->ask(signal))
            control->waitForQueueEnd();
        backlog->close();
        backlog->waitDone(kLastEventsTime);
        std::_Exit(128 + signal);
    });
    // A browser that has gone must not take the downloads with it.
    std::signal(SIGPIPE, SIG_IGN);

    std::thread writer([out] { writeEvents(out, *backlog); });
    auto control = HostedControl::create(
        [](std::string_view event) {
            if (event.size() > kMaxEventFrameBytes) {
                std::fprintf(stderr,
                             "zelvorn: event not sent: %zu bytes, more than the %u a browser accepts: %.60s...\n",
                             event.size(), kMaxEventFrameBytes, std::string(event.substr(0, 60)).c_str());
                return;
            }
            backlog->push(std::string(event));
        },
        caller.empty() ? "native-messaging" : caller);
    if (!control) {
        backlog->close();
        writer.join();
        return 1;
    }
    stop->watch(control);

    const int status = postCommands(in, *control);
    control->waitForQueueEnd();
    backlog->close();
    writer.join();
    return status;
}
