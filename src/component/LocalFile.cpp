#include "component/LocalFile.h"

#include "component/FreeName.h"
#include "support/Text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

LocalFile::~LocalFile()
{
    release(true);
}

LocalFile::Status LocalFile::open(const Dravik::IO::ConfinedFolder& in, const std::string& path, bool likelyNew)
{
    release(true);
    folder = &in;
    relative = path;
    for (bool make = likelyNew;; make = !make) {
        fd = in.openFile(path, make ? O_RDWR | O_CREAT | O_EXCL : O_RDWR);
        if (fd >= 0) {
            created = make;
            return lock();
        }
        // Missing, or made by someone else meanwhile: the other way then.
        if (errno != (make ? EEXIST : ENOENT))
            return failWith(errno);
    }
}

LocalFile::Status LocalFile::create(const Dravik::IO::ConfinedFolder& in, const std::string& directory,
                                    const std::wstring& name, std::string& chosen)
{
    release(true);
    folder = &in;
    const std::string prefix = directory.empty() ? std::string() : directory + "/";
    int made = -1;
    int error = 0;
    const std::wstring free =
        FreeName::claim(in.given() + L'/' + fromUtf8(directory), name, [&](const std::wstring& candidate) {
            made = in.openFile(prefix + toUtf8(candidate), O_RDWR | O_CREAT | O_EXCL);
            error = errno;
            if (made >= 0)
                return FreeName::Attempt::made;
            return error == EEXIST ? FreeName::Attempt::taken : FreeName::Attempt::failed;
        });
    if (free.empty())
        return failWith(error);
    fd = made;
    created = true;
    relative = prefix + toUtf8(free);
    chosen = relative;
    return lock();
}

LocalFile::Status LocalFile::lock()
{
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &whole) == 0)
        return Status::open;
    const int error = errno;
    ::close(fd);
    fd = -1;
    created = false;
    lastError = error;
    return error == EAGAIN || error == EACCES ? Status::busy : Status::failed;
}

LocalFile::Status LocalFile::failWith(int error)
{
    lastError = error;
    return Status::failed;
}

int64_t LocalFile::size() const
{
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}

bool LocalFile::stillThere(int64_t* size) const
{
    struct stat open, found;
    if (fd < 0 || !folder || ::fstat(fd, &open) != 0)
        return false;
    if (size)
        *size = static_cast<int64_t>(open.st_size);
    return folder->statAt(relative, found) && open.st_dev == found.st_dev && open.st_ino == found.st_ino;
}

void LocalFile::release(bool keepEmpty)
{
    if (fd < 0)
        return;
    if (created && !keepEmpty && size() == 0 && stillThere())
        folder->remove(relative);
    ::close(fd);
    fd = -1;
    created = false;
}
