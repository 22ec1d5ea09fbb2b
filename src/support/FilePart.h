// Dravik::IO::FilePart: block access to one region of a file through a stream of its own.
//
// Handed out by FileWriter::openPart as a std::shared_ptr (made with std::make_shared); owned
// by the caller, used by one thread, and closed by its owner (the destructor closes a stream
// that is still open, so a forgotten close does not leak it). Its stream has its own position
// and buffer: it does not see the writer's unflushed bytes, nor the writer its.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace Dravik {
namespace IO {

class FilePart {
public:
    // The sharing value that denies nothing to other openers; POSIX streams never deny
    // anything, so it is the only one there is.
    static constexpr int kShareDenyNone = 0x40;

    FilePart() = default;
    virtual ~FilePart();
    FilePart(const FilePart&) = delete;
    FilePart& operator=(const FilePart&) = delete;

    // Moves to `offset` bytes from the start. 0 on success, -1 on failure or without a stream.
    virtual int seek(int64_t offset);
    // Opens `path` ("\" or "/" separators) with a stdio mode text. Returns the stream, null on
    // failure; a stream opened before is closed first.
    virtual FILE* open(const std::wstring& path, const std::wstring& mode, int share);
    // Moves `offset` bytes from origin 0 (start), 1 (current position) or 2 (end).
    virtual int seekFrom(uint32_t offset, int origin);
    // Writes `count` bytes at the current position; returns how many were written.
    virtual size_t write(const char* bytes, size_t count);
    // Reads one block into `buffer`, zero-filled past what the file holds; returns the bytes read.
    virtual size_t read();
    // Releases the buffer and closes the stream; nothing happens the second time.
    virtual void close();

    int32_t blockSize = 0;     // bytes of one block; set by the writer's openPart
    std::vector<char> buffer;  // the last block read; empty until read

private:
    FILE* file = nullptr;  // owned; null before open, after a failed open and after close
};

}  // namespace IO
}  // namespace Dravik
