// AtomicFile: replaces a file's content all at once: the text goes to a new file beside it, is
// flushed to disk and renamed over the old one, so that a reader (or the next run after a crash)
// finds either the old content or the new, never a part.
//
// Stateless; any thread.
#pragma once

#include <string>
#include <sys/types.h>

class AtomicFile {
public:
    // True when `path` holds `text` with permissions `mode`; otherwise `error` says why, errno
    // holds the cause and the file is as it was.
    static bool write(const std::string& path, const std::string& text, mode_t mode, std::string& error);
};
