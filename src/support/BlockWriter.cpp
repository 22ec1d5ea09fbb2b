#include "support/BlockWriter.h"

#include <unistd.h>

#include <cerrno>

namespace Dravik {
namespace IO {

BlockWriter::BlockWriter(int file, int64_t offset, Defer keep)
    : fd(file), defer(std::move(keep)), state(std::make_shared<State>()), position(offset),
      thread(&BlockWriter::run, this)
{
}

BlockWriter::~BlockWriter()
{
    finish();
}

void BlockWriter::drain(State& state)
{
    {
        std::lock_guard<std::mutex> guard(state.lock);
        // A kept wake-up may come after the blocks it was kept for were written.
        if (state.queued.empty() || state.draining)
            return;
        state.draining = true;
    }
    state.changed.notify_all();
}

bool BlockWriter::write(std::vector<char>& block)
{
    State& s = *state;
    std::unique_lock<std::mutex> guard(s.lock);
    // A full queue has woken the writing thread already.
    s.changed.wait(guard, [&] { return s.failure || s.queued.size() < kBlocks; });
    if (s.failure)
        return false;
    const bool idle = s.queued.empty() && !s.draining;
    s.queued.push_back(std::move(block));
    block.clear();  // a moved-from vector is valid but unspecified
    if (!s.spare.empty()) {
        block.swap(s.spare.back());
        s.spare.pop_back();
    }
    if (s.queued.size() >= kBlocks) {
        s.draining = true;
        guard.unlock();
        s.changed.notify_all();
    } else if (idle) {
        guard.unlock();
        const std::weak_ptr<State> later = state;
        const auto wake = [later] {
            if (const auto kept = later.lock())
                drain(*kept);
        };
        if (!defer(wake))
            drain(s);
    }
    return true;
}

int64_t BlockWriter::written() const
{
    std::lock_guard<std::mutex> guard(state->lock);
    return state->done;
}

bool BlockWriter::finish()
{
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->closing = true;
    }
    state->changed.notify_all();
    if (thread.joinable())
        thread.join();
    std::lock_guard<std::mutex> guard(state->lock);
    return state->failure == 0;
}

int BlockWriter::error() const
{
    std::lock_guard<std::mutex> guard(state->lock);
    return state->failure;
}

void BlockWriter::run()
{
    State& s = *state;
    std::unique_lock<std::mutex> guard(s.lock);
    for (;;) {
        s.changed.wait(guard, [&] { return s.closing || (s.draining && !s.queued.empty()); });
        if (s.queued.empty() || s.failure)
            return;
        std::vector<char> block = std::move(s.queued.front());
        s.queued.pop_front();
        guard.unlock();
        int error = 0;
        size_t at = 0;
        while (at < block.size()) {
            const ssize_t n = ::pwrite(fd, block.data() + at, block.size() - at, static_cast<off_t>(position));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : ENOSPC;
                break;
            }
            at += static_cast<size_t>(n);
            position += n;
        }
        guard.lock();
        s.done += static_cast<int64_t>(at);
        if (error) {
            s.failure = error;
            s.queued.clear();
        }
        s.spare.push_back(std::move(block));
        if (s.queued.empty())
            s.draining = false;
        s.changed.notify_all();
    }
}

}  // namespace IO
}  // namespace Dravik
