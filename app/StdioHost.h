// The stdio host: one control in its own apartment; every line of `in` is one postMessage
// text, every event is written to `out` as one line, flushed as it arrives.
// At the end of input it returns 0 once no queue is running.
#pragma once

#include <cstdio>
#include <istream>

int runStdioHost(std::istream& in, std::FILE* out);
// Returns once no queue is running and every job has sent its last event.
void waitForQueueEnd();
// Asks a running queue and its jobs to stop; does not wait.
void stopQueue();
