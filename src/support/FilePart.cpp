#include "support/FilePart.h"

#include "support/Path.h"
#include "support/Text.h"

#include <sys/types.h>

static_assert(sizeof(off_t) >= 8, "files beyond 4 GiB need 64-bit stream positions");

namespace Dravik {
namespace IO {

FilePart::~FilePart()
{
    close();
}

int FilePart::seek(int64_t offset)
{
    if (!file)
        return -1;
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
}

FILE* FilePart::open(const std::wstring& path, const std::wstring& mode, int /*share*/)
{
    close();
    file = std::fopen(fileSystemPath(path).c_str(), toUtf8(mode).c_str());
    return file;
}

int FilePart::seekFrom(uint32_t offset, int origin)
{
    if (!file)
        return -1;
    return fseeko(file, static_cast<off_t>(offset), origin);
}

size_t FilePart::write(const char* bytes, size_t count)
{
    if (!file || !bytes || count == 0)
        return 0;
    return std::fwrite(bytes, 1, count, file);
}

size_t FilePart::read()
{
    buffer.assign(blockSize > 0 ? static_cast<size_t>(blockSize) : 0, 0);
    if (!file || buffer.empty())
        return 0;
    return std::fread(buffer.data(), 1, buffer.size(), file);
}

void FilePart::close()
{
    buffer.clear();
    buffer.shrink_to_fit();
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
}

}  // namespace IO
}  // namespace Dravik
