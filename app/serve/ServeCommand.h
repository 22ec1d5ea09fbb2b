// `zelvorn serve [--port N] [--allow-origin ORIGIN]... [--web FOLDER] [--grace SECONDS]`:
// serves the demo page and zelvorn.js of web/ on 127.0.0.1 and attaches each page that connects
// to a session of its tab, with a control of its own (PageServer). An origin named with
// --allow-origin is allowed for this run, beside those the settings files allow (OriginChoices).
// A session whose page has gone lives on while its downloads run and for --grace seconds after
// (60 by default), so that its page can come back to it. Prints the address to open, then serves until SIGINT or
// SIGTERM, which stop the downloads first (open pages hear how their tasks ended) and close
// every page.
//
// Runs on the main thread, before any other thread exists. Returns the exit status: 0 after a
// stop, 1 when it cannot listen, 2 for bad arguments (an origin that is not scheme://host[:port],
// a --web that is no folder), with the reason on standard error.
#pragma once

extern const char* const kServeUsage;

int runServe(int argc, char** argv);
