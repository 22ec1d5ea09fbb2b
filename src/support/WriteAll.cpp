#include "support/WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace {

// Writes at the descriptor's position when `at` is negative, else at that offset.
bool writeEvery(int fd, const char* bytes, size_t size, off_t at)
{
    for (size_t done = 0; done < size;) {
        const ssize_t n = at < 0 ? ::write(fd, bytes + done, size - done)
                                 : ::pwrite(fd, bytes + done, size - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool writeAll(int fd, const char* bytes, size_t size)
{
    return writeEvery(fd, bytes, size, -1);
}

bool writeAllAt(int fd, const char* bytes, size_t size, off_t at)
{
    if (at < 0) {
        errno = EINVAL;
        return false;
    }
    return writeEvery(fd, bytes, size, at);
}
