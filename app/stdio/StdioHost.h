// The stdio host: one control, created by its ProgID in an apartment of the host's own and
// scripted by name like a page's script does; every line of `in` is one postMessage text,
// every event is written to `out` as one line, flushed as it arrives. A line longer than
// 16 MiB is skipped, never held whole, with a message on standard error.
// Returns 0 at the end of input, once the queue has ended; 1, with a message on standard error,
// when the control cannot be created (for a missing registration the message names the command
// that fixes it). SIGINT and SIGTERM stop the queue and end the process once every job has
// reported its end; it is called before any other thread of the process starts.
#pragma once

#include <cstdio>
#include <istream>

int runStdioHost(std::istream& in, std::FILE* out);
