#include "support/ConfinedFolder.h"

#include "support/Path.h"
#include "support/Text.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace Dravik {
namespace IO {

namespace {

// openat2 with the two rules that keep a lookup inside the folder; ENOSYS on kernels before 5.6.
int openBeneath(int dir, const std::string& relative, int flags, mode_t mode)
{
#ifdef SYS_openat2
    struct open_how how = {};
    how.flags = static_cast<uint64_t>(flags);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    long fd;
    do
        fd = ::syscall(SYS_openat2, dir, relative.c_str(), &how, sizeof how);
    while (fd < 0 && errno == EAGAIN);  // a rename elsewhere raced the lookup
    return static_cast<int>(fd);
#else
    (void)dir, (void)relative, (void)flags, (void)mode;
    errno = ENOSYS;
    return -1;
#endif
}

std::vector<std::string> namesOf(const std::string& relative)
{
    std::vector<std::string> names;
    size_t at = 0;
    while (at <= relative.size()) {
        size_t end = relative.find('/', at);
        if (end == std::string::npos)
            end = relative.size();
        names.push_back(relative.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != "..";
}

// `path` with `prefix` and one separator taken off its front; false when it does not start so.
bool below(const std::wstring& path, const std::wstring& prefix, std::wstring& rest)
{
    if (prefix.empty() || path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0)
        return false;
    if (prefix == L"/") {
        rest = path.substr(1);
        return true;
    }
    if (path[prefix.size()] != L'/')
        return false;
    rest = path.substr(prefix.size() + 1);
    return !rest.empty();
}

}  // namespace

ConfinedFolder::~ConfinedFolder()
{
    if (dir >= 0)
        ::close(dir);
}

bool ConfinedFolder::open(const std::wstring& path)
{
    if (dir >= 0)
        ::close(dir);
    dir = -1;
    givenPath = pathJoin(path, L"");
    const std::string native = givenPath.empty() ? "." : fileSystemPath(givenPath);
    dir = ::open(native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 && errno == ENOENT && createDirectories(givenPath))
        dir = ::open(native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    resolvedPath.clear();
    return dir >= 0;
}

const std::wstring& ConfinedFolder::resolved() const
{
    // Asked of the open directory itself, so it names the folder that was opened even if a
    // link on its path changed since; found on first need, as most runs never need it.
    if (resolvedPath.empty() && dir >= 0) {
        char real[PATH_MAX];
        const std::string link = "/proc/self/fd/" + std::to_string(dir);
        const ssize_t length = ::readlink(link.c_str(), real, sizeof real - 1);
        if (length > 0)
            resolvedPath = fromUtf8(std::string(real, static_cast<size_t>(length)));
    }
    return resolvedPath;
}

bool ConfinedFolder::relativeOf(const std::wstring& path, std::string& relative) const
{
    const std::wstring canonical = pathJoin(path, L"");
    std::wstring rest;
    const bool relativeToHere =
        givenPath.empty() && !canonical.empty() && canonical[0] != L'/' && canonical.compare(0, 2, L"..") != 0;
    if (relativeToHere)
        rest = canonical;
    else if (!below(canonical, givenPath, rest) && !below(canonical, resolved(), rest))
        return false;
    relative = toUtf8(rest);
    for (const std::string& name : namesOf(relative))
        if (!isPlainName(name))
            return false;
    return true;
}

std::wstring ConfinedFolder::pathOf(const std::string& relative) const
{
    return pathJoin(givenPath, fromUtf8(relative));
}

int ConfinedFolder::openParent(const std::string& relative, bool make, std::string& name) const
{
    const std::vector<std::string> names = namesOf(relative);
    for (const std::string& part : names) {
        if (!isPlainName(part)) {
            errno = EINVAL;
            return -1;
        }
    }
    int current = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
    for (size_t i = 0; current >= 0 && i + 1 < names.size(); ++i) {
        const char* part = names[i].c_str();
        int next = ::openat(current, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && make && (::mkdirat(current, part, 0777) == 0 || errno == EEXIST))
            next = ::openat(current, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(current);
        current = next;
        errno = error;
    }
    name = names.back();
    return current;
}

int ConfinedFolder::openFile(const std::string& relative, int flags, mode_t mode) const
{
    if (dir < 0) {
        errno = EBADF;
        return -1;
    }
    flags |= O_CLOEXEC | O_NOFOLLOW;
    int fd = openBeneath(dir, relative, flags, mode);
    if (fd >= 0 || (errno != ENOSYS && !(errno == ENOENT && (flags & O_CREAT))))
        return fd;
    // No openat2, or a directory on the way is missing: one name at a time.
    std::string name;
    const int parent = openParent(relative, (flags & O_CREAT) != 0, name);
    if (parent < 0)
        return -1;
    fd = ::openat(parent, name.c_str(), flags, mode);
    const int error = errno;
    ::close(parent);
    errno = error;
    return fd;
}

bool ConfinedFolder::makeDirectory(const std::string& relative) const
{
    std::string name;
    const int parent = dir < 0 ? -1 : openParent(relative, true, name);
    if (parent < 0)
        return false;
    const bool made = ::mkdirat(parent, name.c_str(), 0777) == 0;
    const int error = errno;
    ::close(parent);
    errno = error;
    return made;
}

bool ConfinedFolder::statAt(const std::string& relative, struct stat& info) const
{
    // A name right in the folder has nothing on the way to follow: one call, the link itself
    // when it is one, as below.
    if (relative.find('/') == std::string::npos) {
        if (!isPlainName(relative)) {
            errno = EINVAL;
            return false;
        }
        return ::fstatat(dir, relative.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    }
    // One lookup where openat2 is there: the thing itself, opened as a path only (a link at the
    // end is opened as the link, one on the way fails).
    const int itself = openBeneath(dir, relative, O_PATH | O_NOFOLLOW | O_CLOEXEC, 0);
    if (itself >= 0) {
        const bool stated = ::fstat(itself, &info) == 0;
        const int error = errno;
        ::close(itself);
        errno = error;
        return stated;
    }
    if (errno != ENOSYS)
        return false;
    std::string name;
    const int parent = dir < 0 ? -1 : openParent(relative, false, name);
    if (parent < 0)
        return false;
    const bool found = ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    const int error = errno;
    ::close(parent);
    errno = error;
    return found;
}

bool ConfinedFolder::remove(const std::string& relative, bool directory) const
{
    std::string name;
    const int parent = dir < 0 ? -1 : openParent(relative, false, name);
    if (parent < 0)
        return false;
    const bool removed = ::unlinkat(parent, name.c_str(), directory ? AT_REMOVEDIR : 0) == 0;
    const int error = errno;
    ::close(parent);
    errno = error;
    return removed;
}

}  // namespace IO
}  // namespace Dravik
