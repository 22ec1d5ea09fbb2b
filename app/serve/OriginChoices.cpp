#include "OriginChoices.h"

#include "host/Settings.h"

#include <algorithm>
#include <cctype>

namespace OriginChoices {

namespace {

const char* const kOrigins = "origins";
const char* const kAccess = "access";

// The choices `settings` makes, a "deny" winning over an "allow" of the same origin.
std::map<std::string, Choice> choicesOf(const Json::Value& settings)
{
    std::map<std::string, Choice> found;
    const Json::Value& origins = settings[kOrigins];
    if (!origins.isObject())
        return found;
    for (const std::string& name : origins.getMemberNames()) {
        const Json::Value& own = origins[name];
        if (!own.isObject() || !own[kAccess].isString())
            continue;
        const std::string access = own[kAccess].asString();
        const Choice choice = access == "deny" ? Choice::deny : access == "allow" ? Choice::allow : Choice::none;
        Choice& known = found[lowered(name)];
        if (choice != Choice::none && known != Choice::deny)
            known = choice;
    }
    return found;
}

}  // namespace

std::string lowered(std::string origin)
{
    std::transform(origin.begin(), origin.end(), origin.begin(), [](unsigned char c) { return std::tolower(c); });
    return origin;
}

Choice Reading::of(const std::string& origin) const
{
    const auto known = origins.find(lowered(origin));
    return known == origins.end() ? Choice::none : known->second.choice;
}

Reading read()
{
    Reading reading;
    for (const bool machine : {true, false}) {
        std::string problem;
        const Json::Value settings = Settings::read(machine ? Settings::machinePath() : Settings::path(), problem);
        if (!problem.empty())
            reading.problems.push_back(problem);
        for (const auto& [origin, choice] : choicesOf(settings))
            if (choice != Choice::none)
                reading.origins[origin] = Known{choice, machine};  // the user's, read second, wins
    }
    return reading;
}

bool set(const std::string& origin, Choice choice, std::string& error)
{
    const std::string name = lowered(origin);
    return Settings::edit(
        [&](Json::Value& settings) {
            if (!settings[kOrigins].isObject())
                settings[kOrigins] = Json::Value(Json::objectValue);
            Json::Value& origins = settings[kOrigins];
            // Spellings in another case would otherwise go on deciding for it.
            for (const std::string& other : origins.getMemberNames())
                if (other != name && lowered(other) == name && origins[other].isObject())
                    origins[other].removeMember(kAccess);
            Json::Value& own = origins[name];
            if (!own.isObject())
                own = Json::Value(Json::objectValue);
            if (choice == Choice::none)
                own.removeMember(kAccess);
            else
                own[kAccess] = choice == Choice::allow ? "allow" : "deny";
            for (const std::string& other : origins.getMemberNames())
                if (lowered(other) == name && origins[other].isObject() && origins[other].empty())
                    origins.removeMember(other);
        },
        error);
}

}  // namespace OriginChoices
