// `zelvorn get URL... [-d DIR] [-j N] [--cookie TEXT] [--folder LISTING.json]...`: downloads
// files and folder listings into DIR (the current folder by default) through one control, with at
// most N at once (1 to 5, default 1) and the Cookie header TEXT. Each unfinished download keeps
// its state in a sidecar file beside it, so the same command run again resumes it, and only one
// run at a time may have it; a finished download carries a record of its source, and only what
// that record vouches for is left alone as done. A URL or listing given twice is refused. SIGINT
// or SIGTERM stops the queue and leaves every download resumable.
//
// Returns the exit code: 0 all done, 1 a download failed, 2 wrong arguments, 128 + the signal
// when stopped by one.
#pragma once

extern const char* const kGetUsage;

int runGet(int argc, char** argv);
