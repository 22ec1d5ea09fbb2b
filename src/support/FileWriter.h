// Dravik::IO::FileWriter: the local end of a download. Opens the target file (creating the
// missing directories of its path), or writes through a descriptor opened elsewhere, moves to
// the resume offset and writes the received blocks at the current position. Every write goes
// straight to the operating system (no buffer of its own): a block is in the file once write()
// returns, whatever happens to the process afterwards.
//
// A job makes one writer per transfer (std::make_shared, or a local object for a short
// open-and-close) and uses it from its worker thread only; no lock. The destructor closes a
// stream that is still open, so a run that ends on an early return cannot leak the file;
// the jobs still call close() themselves to see its result.
#pragma once

#include "support/FilePart.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Dravik {
namespace IO {

class FileWriter {
public:
    FileWriter() = default;
    virtual ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Mode 2 opens with "wb" (create or empty), any other with "rb+" (existing file, kept).
    virtual bool open(const std::wstring& path, int mode);
    // A new part on the file of the last open, opened "r+b", at `offset`, with `size`-byte
    // blocks. Whether its open succeeded shows in the part itself.
    virtual std::shared_ptr<FilePart> openPart(int64_t offset, int32_t size);
    // Origin 0 from the start, 1 from the current position, 2 from the end.
    virtual bool seek(int64_t offset, int origin);
    // True when a stream was open and closed cleanly; afterwards no stream is held.
    virtual bool close();

    // Opens `path` ("\" or "/" separators) with a stdio mode text ("wb", "rb+") after creating
    // the missing directories of its directory part, then positions at the start.
    bool openWithMode(const std::wstring& path, const std::wstring& mode);
    // Writes through a file already open for writing, from its current position; the
    // descriptor stays the caller's (close() does not close it). `path` is what path() reports.
    bool openDescriptor(int descriptor, const std::wstring& path);
    // True when a stream is open and accepted all `count` bytes: a short write (disk full, I/O
    // error) is a failed write, whatever part of the block reached the file.
    bool write(const char* bytes, uint32_t count);
    // Cuts (or extends) the open file to `length` bytes; the position is left where it was.
    bool truncate(int64_t length);
    // True when a file is open: written bytes are with the operating system already, so a count
    // taken afterwards never runs ahead of the file if the process is killed.
    bool flush();

    const std::wstring& path() const { return filePath; }
    bool isOpen() const { return fd >= 0; }

    // When above 0, an open extends a shorter file to this many bytes. Never set by the jobs.
    int64_t presetSize = 0;

private:
    int fd = -1;            // -1 before an open, after a failed one and after close
    bool owned = false;     // opened here, so closed here
    std::wstring filePath;  // path given to the last open
};

}  // namespace IO
}  // namespace Dravik
