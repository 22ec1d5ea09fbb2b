// LineReader: reads the lines of a stream in bounded pieces, so that a line longer than its
// limit is skipped up to its line feed without ever being held whole. Memory stays within
// the limit plus one piece, whatever the input.
//
// Used by one thread at a time; it owns no stream, only reads the one it was given.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

class LineReader {
public:
    enum class Outcome {
        line,     // `line` holds the next line, without its line feed
        tooLong,  // the next line had more than `limit` bytes; it is consumed, `line` is empty
        end       // no more input
    };

    LineReader(std::istream& in, size_t limit);

    // Blocks until a whole line (or the end of input) has arrived. The last line needs no
    // line feed.
    Outcome next(std::string& line);

private:
    std::istream& in;
    const size_t limit;
    std::vector<char> piece;
};
