// Dravik::IO::BlockWriter: writes the blocks of a large body on a thread of its own, so that the
// transfer reads the next block from the network while the last one goes to the disk. Blocks
// are written in order at consecutive positions from the start offset; written() tells how many
// bytes are with the operating system, and only those may count as stored.
//
// Owned by one transfer and used from its worker thread only (write, written, finish); the
// writing thread is its own and ends with finish() or the destructor. At most kBlocks blocks
// wait at a time: a writer that is behind makes write() wait, which keeps memory bounded.
//
// The writing thread is woken once for several blocks, not for each: a block that finds it idle
// leaves its wake-up to `defer` (the worker runs it before it waits for the network, a few
// milliseconds later at most), and a full queue wakes it at once. Once awake it writes until
// nothing is queued. The state the two threads share is in State, guarded by its lock; a kept
// wake-up holds it weakly, so that it may run after the writer is gone.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Dravik {
namespace IO {

class BlockWriter {
public:
    static constexpr size_t kBlocks = 4;

    // Keeps a wake-up for the caller to run a little later; false when it did not keep it.
    using Defer = std::function<bool(std::function<void()>)>;

    // Writes to `fd` (kept open by the caller until finish() returns) from `offset` on. A wake-up
    // that `defer` does not keep is run at once.
    BlockWriter(int fd, int64_t offset, Defer defer);
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
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        std::deque<std::vector<char>> queued;  // blocks not yet written, oldest first
        std::vector<std::vector<char>> spare;  // written blocks kept for reuse
        int64_t done = 0;
        int failure = 0;        // errno of the failed write
        bool draining = false;  // the writing thread was woken for what is queued and writes until none is
        bool closing = false;
    };

    // Wakes the writing thread: it writes what is queued.
    static void drain(State& state);
    void run();

    const int fd;
    const Defer defer;
    const std::shared_ptr<State> state;
    int64_t position;    // writing thread only: where the next block goes
    std::thread thread;  // started last
};

}  // namespace IO
}  // namespace Dravik
