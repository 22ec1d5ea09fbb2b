// The stdio host's line reader on any input and any limit: it hands out exactly the lines
// a plain split at line feeds gives, each too long one reported instead of held.
#include "app/stdio/LineReader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // Limits around the reader's 64 KiB piece as well as small ones.
    const size_t limit = input.ConsumeBool() ? input.ConsumeIntegralInRange<size_t>(0, 64)
                                             : input.ConsumeIntegralInRange<size_t>(65530, 65540);
    const std::string text = input.ConsumeRemainingBytesAsString();
    std::istringstream stream(text);
    LineReader reader(stream, limit);
    std::string line;
    size_t start = 0;
    while (start < text.size()) {
        const size_t feed = text.find('\n', start);
        const size_t end = feed == std::string::npos ? text.size() : feed;
        const std::string expected = text.substr(start, end - start);
        const LineReader::Outcome outcome = reader.next(line);
        if (expected.size() > limit ? outcome != LineReader::Outcome::tooLong || !line.empty()
                                    : outcome != LineReader::Outcome::line || line != expected)
            std::abort();
        start = end + 1;
    }
    if (reader.next(line) != LineReader::Outcome::end)
        std::abort();
    return 0;
}
