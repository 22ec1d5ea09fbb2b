// The framed protocol's reading of what a page sends, on any message: it accepts only the page's
// kinds, with the number the digits say, and a command's text exactly as sent.
#include "app/serve/PageFrame.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string message(reinterpret_cast<const char*>(data), size);
    PageFrame::Kind kind;
    uint64_t number = 0;
    std::string text;
    if (!PageFrame::parse(message, kind, number, text))
        return 0;
    if (kind != PageFrame::Kind::command && kind != PageFrame::Kind::acknowledged && kind != PageFrame::Kind::ping)
        std::abort();
    const size_t digitsEnd = message.find_first_not_of("0123456789", 1);
    std::string digits = message.substr(1, digitsEnd == std::string::npos ? std::string::npos : digitsEnd - 1);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    if (digits != std::to_string(number))
        std::abort();
    if (kind == PageFrame::Kind::command ? message.substr(digitsEnd + 1) != text : digitsEnd != std::string::npos)
        std::abort();
    return 0;
}
