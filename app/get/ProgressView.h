// ProgressView: what `zelvorn get` shows. Lines printed stay; on a terminal, below them, a live
// line per running task is redrawn in place as its progress changes: on standard output when it
// is a terminal that can redraw them, else on standard error when that is one (so `get > log`
// still shows progress). Elsewhere (pipes, files, a "dumb" terminal) only the printed lines
// appear. A live line is cut to the terminal's width in columns, so it never wraps onto a row
// that the next redraw would not erase, and each redraw goes out in one write.
//
// Owned by the get command for its run; used by one thread at a time (the command's thread, and
// the control's apartment thread while the queue runs). It owns no stream, only writes to them.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

class ProgressView {
public:
    ProgressView(std::FILE* out, std::FILE* err);

    // The live line of task `id`; shown at once when the task is new, otherwise at most ten
    // times a second.
    void update(int id, const std::string& line);
    // Takes task `id`'s live line away.
    void remove(int id);
    // A line that stays, on `out` or (a message about a failure) on `err`.
    void print(const std::string& line) { printTo(out, line); }
    void error(const std::string& line) { printTo(err, line); }

private:
    void printTo(std::FILE* stream, const std::string& line);
    // Erases the live lines drawn, writes `above` in their place and draws the current ones
    // below it, in one write.
    void redraw(const std::string& above);
    // The bytes that erase the live lines drawn, and those that draw the current ones.
    std::string erase();
    std::string drawing();

    std::FILE* const out;
    std::FILE* const err;
    std::FILE* const live;             // where live lines go; null when nowhere
    std::map<int, std::string> lines;  // live lines by task id, drawn in id order
    size_t drawn = 0;                  // live lines on the screen now
    std::chrono::steady_clock::time_point lastDraw;
};
