#include "platform/AtomicFile.h"

#include "support/WriteAll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

bool AtomicFile::write(const std::string& path, const std::string& text, mode_t mode, std::string& error)
{
    // Beside the target, so that the rename stays within one file system.
    std::string pattern = path + ".XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);  // no child process inherits it
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    int failure = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok && ::rename(temporary.data(), path.c_str()) == 0)
        return true;
    if (ok)
        failure = errno;
    error = std::strerror(failure);
    ::unlink(temporary.data());
    errno = failure;
    return false;
}
