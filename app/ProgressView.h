// ProgressView: what `zelvorn get` shows. Lines printed stay; on a terminal, below them, a live
// line per running task is redrawn in place as its progress changes. Elsewhere (a pipe, a file, a
// "dumb" terminal) only the printed lines appear.
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
    // Live lines when `out` is a terminal that can redraw them.
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
    // Erases the live lines drawn, then draws the current ones.
    void clear();
    void draw();

    std::FILE* const out;
    std::FILE* const err;
    const bool live;
    std::map<int, std::string> lines;  // live lines by task id, drawn in id order
    size_t drawn = 0;                  // live lines on the screen now
    std::chrono::steady_clock::time_point lastDraw;
};
