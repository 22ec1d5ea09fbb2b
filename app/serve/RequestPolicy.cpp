#include "RequestPolicy.h"

#include <algorithm>
#include <cstdio>
#include <regex>

using OriginChoices::lowered;

RequestPolicy::RequestPolicy(uint16_t port, const std::vector<std::string>& extraOrigins)
{
    const std::string suffix = port == 80 ? "" : ":" + std::to_string(port);
    for (const char* name : {"127.0.0.1", "localhost"}) {
        hosts.insert(name + suffix);
        own.insert("http://" + std::string(name) + suffix);
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

std::string RequestPolicy::whyNotAskable(const std::string& origin)
{
    if (!wellFormedOrigin(origin))
        return "the user is never asked for an opaque origin";
    static const std::regex local(R"(http://(localhost|127\.[0-9.]+|\[::1\])(:[0-9]+)?)");
    const std::string name = lowered(origin);
    if (name.rfind("https://", 0) == 0 || std::regex_match(name, local))
        return "";
    return "the user is asked only for https origins and http ones of this machine";
}

std::string RequestPolicy::checkHost(const std::string& host) const
{
    if (host.empty())
        return "no Host header";
    if (!hosts.count(lowered(host)))
        return "Host \"" + host + "\" does not name this server";
    return "";
}

OriginChoices::Reading RequestPolicy::readChoices() const
{
    OriginChoices::Reading choices = OriginChoices::read();
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& problem : choices.problems)
        if (std::find(reported.begin(), reported.end(), problem) == reported.end())
            std::fprintf(stderr, "zelvorn serve: %s; it allows no origin until mended\n", problem.c_str());
    reported = choices.problems;
    return choices;
}

RequestPolicy::Access RequestPolicy::access(const OriginChoices::Reading& choices, const std::string& origin) const
{
    const std::string name = lowered(origin);
    if (own.count(name))
        return Access::allowed;
    const OriginChoices::Choice choice = choices.of(name);
    if (choice == OriginChoices::Choice::deny)
        return Access::denied;
    return choice == OriginChoices::Choice::allow || origins.count(name) ? Access::allowed : Access::unknown;
}

RequestPolicy::Access RequestPolicy::checkOrigin(const std::string& origin, std::string& why) const
{
    if (origin.empty()) {
        why = "no Origin header";
        return Access::denied;
    }
    const Access verdict = access(readChoices(), origin);
    if (verdict == Access::denied)
        why = "origin \"" + origin + "\" is denied (zelvorn origins forget ORIGIN lifts it)";
    else if (verdict == Access::unknown)
        why = "origin \"" + origin + "\" is not allowed (zelvorn origins allow ORIGIN allows it)";
    return verdict;
}
