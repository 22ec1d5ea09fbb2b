// OriginChoices: which origins the user and the machine let use `zelvorn serve`, as "access":
// "allow" or "deny" of an origin in the settings files (Settings.h). Origins are compared
// without regard to case; within one file a "deny" beats an "allow" of the same origin, and the
// user's file beats the machine's where they disagree. A file that cannot be read allows and
// denies nothing; a member of the wrong type is skipped.
//
// Stateless; any thread.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace OriginChoices {

enum class Choice { none, allow, deny };

struct Known {
    Choice choice = Choice::none;
    bool machine = false;  // the machine's file made it
};

struct Reading {
    std::map<std::string, Known> origins;  // by origin in lower case
    std::vector<std::string> problems;     // files that could not be read, and why
    Choice of(const std::string& origin) const;
};

// Both files as they are now.
Reading read();
// Records `choice` for `origin` in the user's file (none forgets it, leaving its other
// settings); false, with why in `error`, when the file is damaged or cannot be written.
bool set(const std::string& origin, Choice choice, std::string& error);
std::string lowered(std::string origin);

}  // namespace OriginChoices
