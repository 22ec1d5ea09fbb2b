#include "FrameReader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kPieceBytes = 64 * 1024;

}  // namespace

size_t FrameReader::readFully(char* into, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, into + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // a read error ends the input as an end of file does: it is not retried
        got += static_cast<size_t>(n);
    }
    return got;
}

FrameReader::Outcome FrameReader::next(std::string& body, uint32_t& length)
{
    body.clear();
    char prefix[sizeof(uint32_t)];
    const size_t got = readFully(prefix, sizeof prefix);
    if (got == 0)
        return Outcome::end;
    if (got < sizeof prefix)
        return Outcome::truncated;
    std::memcpy(&length, prefix, sizeof length);
    if (length > limit) {
        std::vector<char> piece(kPieceBytes);
        for (size_t left = length; left > 0;) {
            const size_t step = left < piece.size() ? left : piece.size();
            if (readFully(piece.data(), step) < step)
                return Outcome::truncated;
            left -= step;
        }
        return Outcome::tooLong;
    }
    body.resize(length);
    if (readFully(&body[0], length) < length) {
        body.clear();
        return Outcome::truncated;
    }
    return Outcome::frame;
}
