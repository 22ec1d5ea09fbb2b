// Dravik::IO::BlockWriter: writes the blocks of a large body on a thread of its own, so that the
// transfer reads the next block from the network while the last one goes to the disk. Blocks
// are written in order at consecutive positions from the start offset; written() tells how many
// bytes are with the operating system, and only those may count as stored.
//
// Owned by one transfer and used from its worker thread only (write, written, finish); the
// writing thread is its own and ends with finish() or the destructor. At most kBlocks blocks
// wait at a time: a writer that is behind makes write() wait, which keeps memory bounded.
// Shared state is guarded by `lock`.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace Dravik {
namespace IO {

class BlockWriter {
public:
    static constexpr size_t kBlocks = 4;

    // Writes to `fd` (kept open by the caller until finish() returns) from `offset` on.
    BlockWriter(int fd, int64_t offset);
    ~BlockWriter();
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Queues the bytes of `block`, taken over without a copy; `block` gets back the buffer of
    // a block already written (or none), whatever it holds. False once a write has failed
    // (nothing more is written).
    bool write(std::vector<char>& block);
    // Bytes written so far.
    int64_t written() const;
    // Waits until every queued block is written and ends the thread; false when a write
    // failed, with its errno in error().
    bool finish();
    int error() const;

private:
    void run();

    const int fd;
    mutable std::mutex lock;
    std::condition_variable changed;
    std::deque<std::vector<char>> queued;  // guarded by lock: blocks not yet written, oldest first
    std::vector<std::vector<char>> spare;  // guarded by lock: written blocks kept for reuse
    int64_t position;                      // writing thread only: where the next block goes
    int64_t done = 0;                      // guarded by lock
    int failure = 0;                       // guarded by lock: errno of the failed write
    bool closing = false;                  // guarded by lock
    std::thread thread;                    // started last
};

}  // namespace IO
}  // namespace Dravik
