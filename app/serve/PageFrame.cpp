#include "PageFrame.h"

#include <cctype>

namespace PageFrame {

std::string hello(const std::string& session, bool resumed, uint64_t acked)
{
    // The key is made of letters, digits, '-' and '_' only: it needs no escaping.
    return "h{\"session\":\"" + session + "\",\"resumed\":" + (resumed ? "true" : "false") +
           ",\"acked\":" + std::to_string(acked) + "}";
}

std::string event(uint64_t number, const std::string& text)
{
    return "e" + std::to_string(number) + " " + text;
}

std::string numbered(Kind kind, uint64_t number)
{
    return static_cast<char>(kind) + std::to_string(number);
}

std::string lost()
{
    return std::string(1, static_cast<char>(Kind::lost));
}

bool parse(const std::string& message, Kind& kind, uint64_t& number, std::string& text)
{
    if (message.size() < 2)
        return false;
    kind = static_cast<Kind>(message[0]);
    if (kind != Kind::command && kind != Kind::acknowledged && kind != Kind::ping)
        return false;
    size_t end = 1;
    number = 0;
    while (end < message.size() && std::isdigit(static_cast<unsigned char>(message[end]))) {
        if (end > 19)
            return false;  // more digits than a 64-bit number holds
        number = number * 10 + static_cast<uint64_t>(message[end] - '0');
        ++end;
    }
    if (end == 1)
        return false;
    if (kind != Kind::command)
        return end == message.size();
    if (end == message.size() || message[end] != ' ')
        return false;
    text.assign(message, end + 1, std::string::npos);
    return true;
}

}  // namespace PageFrame
