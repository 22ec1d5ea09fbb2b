#include "RequestPolicy.h"

#include <algorithm>
#include <cctype>
#include <regex>

namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

RequestPolicy::RequestPolicy(uint16_t port, const std::vector<std::string>& extraOrigins)
{
    const std::string suffix = port == 80 ? "" : ":" + std::to_string(port);
    for (const char* name : {"127.0.0.1", "localhost"}) {
        hosts.insert(name + suffix);
        origins.insert("http://" + std::string(name) + suffix);
    }
    for (const auto& origin : extraOrigins)
        origins.insert(lowered(origin));
}

bool RequestPolicy::wellFormedOrigin(const std::string& origin)
{
    static const std::regex form(R"(([a-zA-Z][a-zA-Z0-9+.-]*)://([a-zA-Z0-9.-]+|\[[0-9a-fA-F:.]+\])(:([0-9]{1,5}))?)");
    std::smatch parts;
    if (!std::regex_match(origin, parts, form))
        return false;
    return !parts[4].matched || std::stoul(parts[4].str()) <= 65535;
}

std::string RequestPolicy::checkHost(const std::string& host) const
{
    if (host.empty())
        return "no Host header";
    if (!hosts.count(lowered(host)))
        return "Host \"" + host + "\" does not name this server";
    return "";
}

std::string RequestPolicy::checkOrigin(const std::string& origin) const
{
    if (origin.empty())
        return "no Origin header";
    if (!origins.count(lowered(origin)))
        return "origin \"" + origin + "\" is not allowed (zelvorn serve --allow-origin ORIGIN allows it)";
    return "";
}
