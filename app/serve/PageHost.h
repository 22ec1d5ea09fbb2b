// The page host: `zelvorn page-host --origin ORIGIN --parent PID`, the host of one session of
// `zelvorn serve`, which starts it as a child process; not for people. It keeps one control for
// the pages of one browser tab: the queue, settings and events of a control are per process, so
// each session gets a process of its own. Its commands come from a page of ORIGIN, whose rules
// apply (HostSite).
//
// Standard input and output carry HostFrame messages: commands in; events, the queue going busy
// and idle, and a control that cannot be created, out. It ends:
//  - on "quit" while its queue is idle: status 0;
//  - at the end of its input (serve closed its end, or died): it stops the queue, waits until
//    every job has reported its end, and returns 0;
//  - when serve dies, killed or not (the parent-death signal), or on SIGTERM or SIGINT, the
//    same way, with 128 + the signal;
//  - at once, with 1, when PID is no longer its parent or the control cannot be created.
#pragma once

#include <sys/types.h>

#include <string>

int runPageHost(int in, int out, const std::string& origin, pid_t parent);
