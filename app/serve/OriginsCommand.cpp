#include "OriginsCommand.h"

#include "OriginChoices.h"
#include "RequestPolicy.h"
#include "host/Settings.h"

#include <cstdio>
#include <cstring>
#include <string>

const char* const kOriginsUsage = "zelvorn origins allow|deny|forget ORIGIN | list";

namespace {

int refuse(const std::string& why)
{
    std::fprintf(stderr, "zelvorn origins: %s\nusage: %s\n", why.c_str(), kOriginsUsage);
    return 2;
}

int list()
{
    const OriginChoices::Reading reading = OriginChoices::read();
    for (const auto& problem : reading.problems)
        std::fprintf(stderr, "zelvorn origins: %s; it allows nothing\n", problem.c_str());
    for (const auto& [origin, known] : reading.origins)
        std::printf("%s %s (%s)\n", known.choice == OriginChoices::Choice::allow ? "allow" : "deny ", origin.c_str(),
                    known.machine ? Settings::machinePath().c_str() : Settings::path().c_str());
    return 0;
}

}  // namespace

int runOrigins(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[2], "list") == 0)
        return list();
    if (argc != 4)
        return refuse("allow, deny or forget take one origin; list none");
    const std::string action = argv[2];
    OriginChoices::Choice choice;
    if (action == "allow")
        choice = OriginChoices::Choice::allow;
    else if (action == "deny")
        choice = OriginChoices::Choice::deny;
    else if (action == "forget")
        choice = OriginChoices::Choice::none;
    else
        return refuse("unknown action \"" + action + "\"");
    const std::string origin = OriginChoices::lowered(argv[3]);
    if (!RequestPolicy::wellFormedOrigin(origin))
        return refuse("\"" + std::string(argv[3]) +
                      "\" is not an origin: scheme://host[:port], without a path, e.g. https://example.com");
    std::string error;
    if (!OriginChoices::set(origin, choice, error)) {
        std::fprintf(stderr, "zelvorn origins: %s is not changed: %s\n", Settings::path().c_str(), error.c_str());
        return 1;
    }
    std::printf("zelvorn origins: %s %s%s\n", origin.c_str(),
                choice == OriginChoices::Choice::allow  ? "allowed"
                : choice == OriginChoices::Choice::deny ? "denied"
                                                        : "forgotten",
                choice == OriginChoices::Choice::none ? "" : (" in " + Settings::path()).c_str());
    const OriginChoices::Reading now = OriginChoices::read();
    const auto known = now.origins.find(origin);
    if (choice == OriginChoices::Choice::none && known != now.origins.end())
        std::printf("zelvorn origins: %s still %s it\n", Settings::machinePath().c_str(),
                    known->second.choice == OriginChoices::Choice::allow ? "allows" : "denies");
    return 0;
}
