// HostFrame: the messages between `zelvorn serve` and the host of one of its sessions
// (`zelvorn page-host`), over the host's standard input and output. Each is a 32-bit length in
// the machine's byte order (as FrameReader reads it), then that many bytes: one byte saying what
// the message is, then its text. Commands may hold line feeds, so no line framing would do.
//
// Stateless; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace HostFrame {

enum class Kind : char {
    // serve -> host
    command = 'c',  // one postMessage text
    quit = 'q',     // end when the queue is idle; a busy host answers `busy` and stays
    tasks = 't',    // which tasks run now? answered with `running`
    // host -> serve
    event = 'e',    // one event text, without its line feed
    busy = 'b',     // the queue runs or a job still has events to send
    idle = 'i',     // neither
    failed = 'f',   // the control cannot be created; the text says why, then the host ends
    running = 'r',  // the ids of the tasks that run, as a JSON array, in answer to `tasks`
};

// A command may be as long as a page's message; an event (the "init_end" of a huge folder) a
// little longer.
constexpr size_t kMaxBytes = 64 * 1024 * 1024;

std::string encode(Kind kind, std::string_view text = {});
// Splits a frame's bytes; false for an empty frame.
bool decode(const std::string& bytes, Kind& kind, std::string& text);

}  // namespace HostFrame
