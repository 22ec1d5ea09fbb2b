#include "net/ContentDisposition.h"

#include "support/Text.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/erase.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <cctype>
#include <map>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Parameters after the disposition type, names lower-cased. A quoted value may hold ";".
std::map<std::string, std::string> parameters(const std::string& value)
{
    std::map<std::string, std::string> result;
    size_t at = value.find(';');
    while (at != std::string::npos && at < value.size()) {
        ++at;  // past ';'
        const size_t equals = value.find_first_of("=;", at);
        if (equals == std::string::npos || value[equals] == ';') {
            at = equals;
            continue;
        }
        std::string name = boost::to_lower_copy(boost::trim_copy(value.substr(at, equals - at)));
        size_t pos = equals + 1;
        while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t'))
            ++pos;
        std::string text;
        if (pos < value.size() && value[pos] == '"') {
            const size_t close = value.find('"', pos + 1);
            text = value.substr(pos, close == std::string::npos ? std::string::npos : close + 1 - pos);
            at = close == std::string::npos ? std::string::npos : value.find(';', close);
        } else {
            const size_t end = value.find(';', pos);
            text = boost::trim_copy(value.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
            at = end;
        }
        if (!name.empty() && !result.count(name))
            result[name] = text;
    }
    return result;
}

// RFC 5987 ext-value: charset'language'%XX-encoded bytes; "+" stays a plus sign here.
std::wstring extendedValue(const std::string& text)
{
    const size_t first = text.find('\'');
    const size_t second = first == std::string::npos ? std::string::npos : text.find('\'', first + 1);
    if (second == std::string::npos)
        return std::wstring();
    const std::string charset = boost::to_lower_copy(text.substr(0, first));
    std::string bytes;
    for (size_t i = second + 1; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            bytes += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    if (charset == "iso-8859-1") {
        std::wstring wide;
        for (unsigned char c : bytes)
            wide += static_cast<wchar_t>(c);
        return wide;
    }
    return fromUtf8(bytes);
}

}  // namespace

std::wstring dispositionFileName(const std::string& value)
{
    const auto params = parameters(value);
    const auto extended = params.find("filename*");
    if (extended != params.end()) {
        std::wstring name = extendedValue(extended->second);
        if (!name.empty())
            return name;
    }
    const auto plain = params.find("filename");
    if (plain == params.end())
        return std::wstring();
    std::string name = plain->second;
    boost::erase_all(name, "\"");
    return fromUtf8(urlDecode(name));
}
