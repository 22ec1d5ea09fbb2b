// `zelvorn origins allow|deny|forget ORIGIN` and `zelvorn origins list`: the user's choices of
// which origins' pages may use `zelvorn serve`, kept in the user's settings file
// (OriginChoices); a running serve follows them at once. `list` shows the choices of the user's
// file and of the machine's, the one that counts for each origin.
//
// Runs on the main thread. Returns the exit status: 0 done, 1 when the file is damaged or cannot
// be written (it is left as it was), 2 for bad arguments, with the reason on standard error.
#pragma once

extern const char* const kOriginsUsage;

int runOrigins(int argc, char** argv);
