// `zelvorn serve [--port N] [--allow-origin ORIGIN]... [--web FOLDER]`: serves the demo page
// and zelvorn.js of web/ on 127.0.0.1 and gives each page that connects a control of its own
// (PageServer). Prints the address to open, then serves until SIGINT or SIGTERM, which stop
// the downloads first (open pages hear how their tasks ended) and close every page.
//
// Runs on the main thread, before any other thread exists. Returns the exit status: 0 after a
// stop, 1 when it cannot listen, 2 for bad arguments.
#pragma once

extern const char* const kServeUsage;

int runServe(int argc, char** argv);
