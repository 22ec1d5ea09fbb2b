#include "support/EventText.h"

#include <cstring>

namespace {

// The escapes jsoncpp writes with emitUTF8: the two that JSON requires, the five short ones,
// \u00XX (lower-case hex) for the other control characters, every other byte as it is.
void appendQuoted(std::string& out, const std::string& text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    // Runs of bytes that stay as they are go in whole: most texts have nothing to escape.
    size_t plainFrom = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char* escape = nullptr;
        switch (c) {
        case '"':
            escape = "\\\"";
            break;
        case '\\':
            escape = "\\\\";
            break;
        case '\b':
            escape = "\\b";
            break;
        case '\f':
            escape = "\\f";
            break;
        case '\n':
            escape = "\\n";
            break;
        case '\r':
            escape = "\\r";
            break;
        case '\t':
            escape = "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20)
                continue;
        }
        out.append(text, plainFrom, i - plainFrom);
        plainFrom = i + 1;
        if (escape) {
            out += escape;
        } else {
            out += "\\u00";
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
        }
    }
    out.append(text, plainFrom, std::string::npos);
    out += '"';
}

}  // namespace

EventText& EventText::string(const char* name, const std::string& value)
{
    std::string written;
    written.reserve(value.size() + 2);
    appendQuoted(written, value);
    put(name, std::move(written));
    return *this;
}

EventText& EventText::number(const char* name, int64_t value)
{
    put(name, std::to_string(value));
    return *this;
}

EventText& EventText::flag(const char* name, bool value)
{
    put(name, value ? "true" : "false");
    return *this;
}

EventText& EventText::object(const char* name, const EventText& value)
{
    std::string written;
    value.appendObject(written);
    put(name, std::move(written));
    return *this;
}

EventText& EventText::list(const char* name, EventList&& items)
{
    items.written += ']';
    put(name, std::move(items.written));
    return *this;
}

void EventList::add(const EventText& item)
{
    if (written.size() > 1)
        written += ',';
    item.appendObject(written);
}

std::string EventText::line() const
{
    std::string out;
    appendObject(out);
    out += '\n';
    return out;
}

void EventText::put(const char* name, std::string written)
{
    // Kept in name order as they come: an event has a handful of members.
    if (members.empty())
        members.reserve(8);
    auto at = members.begin();
    while (at != members.end() && std::strcmp(at->first, name) < 0)
        ++at;
    if (at != members.end() && std::strcmp(at->first, name) == 0) {
        at->second = std::move(written);
        return;
    }
    members.emplace(at, name, std::move(written));
}

void EventText::appendObject(std::string& out) const
{
    size_t size = 2;
    for (const auto& member : members)
        size += std::strlen(member.first) + member.second.size() + 4;
    out.reserve(out.size() + size);
    out += '{';
    bool first = true;
    for (const auto& member : members) {
        if (!first)
            out += ',';
        first = false;
        appendQuoted(out, member.first);
        out += ':';
        out += member.second;
    }
    out += '}';
}
