// ContentRange: a Content-Range value: "bytes first-last/total" for a part, "bytes */total" for
// a range the file does not have (the value of a 416 answer). A plain value; any thread.
#pragma once

#include <cstdint>
#include <string>

struct ContentRange {
    bool present = false;      // the header was there and could be read
    bool unsatisfied = false;  // "bytes */total"
    int64_t first = 0;
    int64_t last = 0;
    int64_t total = 0;

    // Reads a header value; an unreadable one is not present.
    static ContentRange parse(const std::string& value);
};
