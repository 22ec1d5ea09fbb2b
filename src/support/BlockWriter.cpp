#include "support/BlockWriter.h"

#include <unistd.h>

#include <cerrno>

namespace Dravik {
namespace IO {

BlockWriter::BlockWriter(int file, int64_t offset) : fd(file), position(offset), thread(&BlockWriter::run, this) {}

BlockWriter::~BlockWriter()
{
    finish();
}

bool BlockWriter::write(std::vector<char>& block)
{
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return failure || queued.size() < kBlocks; });
    if (failure)
        return false;
    queued.push_back(std::move(block));
    block.clear();  // a moved-from vector is valid but unspecified
    if (!spare.empty()) {
        block.swap(spare.back());
        spare.pop_back();
    }
    changed.notify_all();
    return true;
}

int64_t BlockWriter::written() const
{
    std::lock_guard<std::mutex> guard(lock);
    return done;
}

bool BlockWriter::finish()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        closing = true;
        changed.notify_all();
    }
    if (thread.joinable())
        thread.join();
    std::lock_guard<std::mutex> guard(lock);
    return failure == 0;
}

int BlockWriter::error() const
{
    std::lock_guard<std::mutex> guard(lock);
    return failure;
}

void BlockWriter::run()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [&] { return closing || !queued.empty(); });
        if (queued.empty() || failure)
            return;
        std::vector<char> block = std::move(queued.front());
        queued.pop_front();
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
        done += static_cast<int64_t>(at);
        if (error) {
            failure = error;
            queued.clear();
        }
        spare.push_back(std::move(block));
        changed.notify_all();
    }
}

}  // namespace IO
}  // namespace Dravik
