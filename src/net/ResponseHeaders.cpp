#include "net/ResponseHeaders.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <cctype>

bool ResponseHeaders::addLine(const char* data, size_t length)
{
    std::string line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (line.empty())
        return true;

    if (boost::starts_with(line, "HTTP/")) {
        fields.clear();
        status = 0;
        reason.clear();
        size_t code = line.find(' ');
        while (code != std::string::npos && code < line.size() && line[code] == ' ')
            ++code;
        // A status code has three digits, and curl reads no more: a longer run cannot overflow.
        for (int digits = 0; digits < 3 && code != std::string::npos && code < line.size() &&
                             std::isdigit(static_cast<unsigned char>(line[code]));
             ++digits, ++code)
            status = status * 10 + (line[code] - '0');
        if (code != std::string::npos && code < line.size())
            reason = boost::trim_copy(line.substr(code));
        return false;
    }
    if ((line[0] == ' ' || line[0] == '\t') && !fields.empty()) {  // folded continuation line
        fields.back().second += ' ' + boost::trim_copy(line);
        return false;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos)
        return false;
    fields.emplace_back(boost::trim_copy(line.substr(0, colon)), boost::trim_copy(line.substr(colon + 1)));
    return false;
}

namespace {

// Header names are ASCII tokens: compared without the locale machinery, which is costly per call.
bool sameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y && !(std::isalpha(x) && (x | 0x20) == (y | 0x20)))
            return false;
    }
    return true;
}

}  // namespace

bool ResponseHeaders::find(const std::string& name, std::string& value) const
{
    for (const auto& field : fields) {
        if (sameName(field.first, name)) {
            value = field.second;
            return true;
        }
    }
    return false;
}

bool ResponseHeaders::consistent(const std::string& name) const
{
    const std::string* first = nullptr;
    for (const auto& field : fields) {
        if (!sameName(field.first, name))
            continue;
        if (first && *first != field.second)
            return false;
        first = &field.second;
    }
    return true;
}

bool ResponseHeaders::has(const std::string& name) const
{
    std::string ignored;
    return find(name, ignored);
}
