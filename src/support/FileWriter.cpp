#include "support/FileWriter.h"

#include "support/Path.h"
#include "support/Text.h"
#include "support/WriteAll.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace Dravik {
namespace IO {

FileWriter::~FileWriter()
{
    close();
}

bool FileWriter::open(const std::wstring& path, int mode)
{
    return openWithMode(path, mode == 2 ? L"wb" : L"rb+");
}

namespace {

// The open(2) flags of a stdio mode text: "w" creates or empties, "a" appends, "r" keeps; "+"
// adds reading or writing.
int flagsOf(const std::string& mode)
{
    const bool both = mode.find('+') != std::string::npos;
    switch (mode.empty() ? 'r' : mode[0]) {
    case 'w':
        return (both ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    case 'a':
        return (both ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    default:
        return both ? O_RDWR : O_RDONLY;
    }
}

}  // namespace

bool FileWriter::openWithMode(const std::wstring& path, const std::wstring& mode)
{
    close();
    filePath = path;

    // Creation failures are not reported: the open below fails on its own then.
    const std::wstring directory = path.substr(0, path.size() - pathFileName(path).size());
    if (!directory.empty() && !pathExists(directory))
        createDirectories(directory);

    fd = ::open(fileSystemPath(path).c_str(), flagsOf(toUtf8(mode)) | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    owned = true;

    // Only a shorter file is extended: a zero written inside a longer one would destroy data.
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (presetSize > 0 && end >= 0 && end < presetSize) {
        const char zero = 0;
        if (seek(presetSize - 1, SEEK_SET))
            write(&zero, 1);
    }
    seek(0, SEEK_SET);
    return true;
}

bool FileWriter::openDescriptor(int descriptor, const std::wstring& path)
{
    close();
    filePath = path;
    fd = descriptor;
    owned = false;
    return fd >= 0;
}

std::shared_ptr<FilePart> FileWriter::openPart(int64_t offset, int32_t size)
{
    auto part = std::make_shared<FilePart>();
    part->open(filePath, L"r+b", FilePart::kShareDenyNone);
    part->seek(offset);
    part->blockSize = size;
    return part;
}

bool FileWriter::seek(int64_t offset, int origin)
{
    return fd >= 0 && ::lseek(fd, static_cast<off_t>(offset), origin) >= 0;
}

bool FileWriter::write(const char* bytes, uint32_t count)
{
    return fd >= 0 && bytes && count > 0 && writeAll(fd, bytes, count);
}

bool FileWriter::truncate(int64_t length)
{
    return fd >= 0 && length >= 0 && ::ftruncate(fd, static_cast<off_t>(length)) == 0;
}

bool FileWriter::flush()
{
    return fd >= 0;
}

bool FileWriter::close()
{
    if (fd < 0)
        return false;
    const bool closed = !owned || ::close(fd) == 0;
    fd = -1;
    return closed;
}

}  // namespace IO
}  // namespace Dravik
