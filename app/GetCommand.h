// `zelvorn get URL... [-d DIR] [-j N] [--cookie TEXT] [--folder LISTING.json]...`: downloads
// files and folder listings into DIR (the current folder by default) through one control, with at
// most N at once (1 to 5, default 1) and the Cookie header TEXT. Each unfinished download keeps
// its state in a sidecar file beside it, so the same command run again resumes it; a download
// already in DIR without a sidecar is done and is left alone. SIGINT or SIGTERM stops the queue
// and leaves every download resumable.
//
// Returns the exit code: 0 all done, 1 a download failed, 2 wrong arguments, 128 + the signal
// when stopped by one.
#pragma once

extern const char* const kGetUsage;

int runGet(int argc, char** argv);
