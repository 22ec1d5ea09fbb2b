#include "support/WriteAll.h"

#include <unistd.h>

#include <cerrno>

bool writeAll(int fd, const char* bytes, size_t size)
{
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
