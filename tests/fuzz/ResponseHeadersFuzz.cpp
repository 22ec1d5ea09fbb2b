// A response's header block as a server may send it, line by line as curl delivers it, then
// looked up the way a transfer reads its answer (Content-Range, Content-Length, ...).
#include "net/ContentRange.h"
#include "net/ResponseHeaders.h"

#include <boost/algorithm/string/case_conv.hpp>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string block(reinterpret_cast<const char*>(data), size);
    ResponseHeaders headers;
    for (size_t start = 0; start < block.size();) {
        const size_t end = block.find('\n', start);
        const size_t length = (end == std::string::npos ? block.size() : end + 1) - start;
        headers.addLine(block.data() + start, length);
        start += length;
    }
    if (headers.statusCode() < 0)
        std::abort();
    std::string value;
    for (const char* name : {"Content-Range", "Content-Length", "Content-Type", "Content-Disposition", "Location"}) {
        const bool found = headers.find(name, value);
        if (found != headers.has(name))
            std::abort();
        // Only a name that was sent is found.
        if (found && boost::to_lower_copy(block).find(boost::to_lower_copy(std::string(name))) == std::string::npos)
            std::abort();
    }
    // Whatever range a server states is read without fault and without a negative length.
    if (headers.find("Content-Range", value)) {
        const ContentRange range = ContentRange::parse(value);
        if ((range.unsatisfied && !range.present) || range.first < 0 || range.last < 0 || range.total < 0)
            std::abort();
    }
    return 0;
}
