// The native-messaging host's frame reader on any input and any limit: it hands out exactly
// the frames a plain walk over the lengths gives, skips each too long one whole, and reports
// an input that ends inside a frame.
#include "app/host/FrameReader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // Limits around the reader's 64 KiB piece as well as small ones.
    const size_t limit = input.ConsumeBool() ? input.ConsumeIntegralInRange<size_t>(0, 64)
                                             : input.ConsumeIntegralInRange<size_t>(65530, 65540);
    const std::string stream = input.ConsumeRemainingBytesAsString();
    const int fd = memfd_create("frames", 0);
    if (fd < 0 || write(fd, stream.data(), stream.size()) != static_cast<ssize_t>(stream.size()) ||
        lseek(fd, 0, SEEK_SET) != 0)
        std::abort();

    FrameReader reader(fd, limit);
    std::string body;
    uint32_t length = 0;
    for (size_t at = 0;;) {
        const FrameReader::Outcome outcome = reader.next(body, length);
        const size_t left = stream.size() - at;
        if (left == 0) {
            if (outcome != FrameReader::Outcome::end)
                std::abort();
            break;
        }
        uint32_t expected = 0;
        if (left >= sizeof expected)
            std::memcpy(&expected, stream.data() + at, sizeof expected);
        if (left < sizeof expected || left - sizeof expected < expected) {
            if (outcome != FrameReader::Outcome::truncated)
                std::abort();
            break;
        }
        if (expected > limit ? outcome != FrameReader::Outcome::tooLong || length != expected
                             : outcome != FrameReader::Outcome::frame || length != expected ||
                                   body != stream.substr(at + sizeof expected, expected))
            std::abort();
        at += sizeof expected + expected;
    }
    close(fd);
    return 0;
}
