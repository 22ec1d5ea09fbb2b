#include "HostFrame.h"

#include <cstdint>
#include <cstring>

namespace HostFrame {

std::string encode(Kind kind, std::string_view text)
{
    const auto length = static_cast<uint32_t>(text.size() + 1);
    std::string bytes(sizeof length, '\0');
    std::memcpy(&bytes[0], &length, sizeof length);
    bytes += static_cast<char>(kind);
    bytes += text;
    return bytes;
}

bool decode(const std::string& bytes, Kind& kind, std::string& text)
{
    if (bytes.empty())
        return false;
    kind = static_cast<Kind>(bytes[0]);
    text.assign(bytes, 1, std::string::npos);
    return true;
}

}  // namespace HostFrame
