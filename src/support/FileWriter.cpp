#include "support/FileWriter.h"

#include "support/Path.h"
#include "support/Text.h"

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

bool FileWriter::openWithMode(const std::wstring& path, const std::wstring& mode)
{
    close();
    filePath = path;

    // Creation failures are not reported: the open below fails on its own then.
    const std::wstring directory = path.substr(0, path.size() - pathFileName(path).size());
    if (!directory.empty() && !pathExists(directory))
        createDirectories(directory);

    file = std::fopen(fileSystemPath(path).c_str(), toUtf8(mode).c_str());
    if (!file)
        return false;

    // Only a shorter file is extended: a zero written inside a longer one would destroy data.
    if (presetSize > 0 && seek(0, SEEK_END) && ftello(file) < presetSize) {
        const char zero = 0;
        if (seek(presetSize - 1, SEEK_SET))
            std::fwrite(&zero, 1, 1, file);
    }
    seek(0, SEEK_SET);
    return true;
}

bool FileWriter::openDescriptor(int fd, const std::wstring& path)
{
    close();
    filePath = path;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return false;
    file = ::fdopen(own, "r+b");
    if (!file) {
        ::close(own);
        return false;
    }
    return seek(0, SEEK_SET);
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
    return file && fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

bool FileWriter::write(const char* bytes, uint32_t count)
{
    if (!file || !bytes || count == 0)
        return false;
    return std::fwrite(bytes, 1, count, file) == count;
}

bool FileWriter::truncate(int64_t length)
{
    return file && length >= 0 && std::fflush(file) == 0 && ::ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}

bool FileWriter::flush()
{
    return file && std::fflush(file) == 0;
}

bool FileWriter::close()
{
    if (!file)
        return false;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    return closed;
}

}  // namespace IO
}  // namespace Dravik
