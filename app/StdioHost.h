// The stdio host: one control, created by its ProgID in an apartment of the host's own and
// scripted by name like a page's script does; every line of `in` is one postMessage text,
// every event is written to `out` as one line, flushed as it arrives.
// Returns 0 at the end of input; 1, with a message on standard error, when the control cannot
// be created (for a missing registration the message names the command that fixes it).
#pragma once

#include <cstdio>
#include <istream>

int runStdioHost(std::istream& in, std::FILE* out);
