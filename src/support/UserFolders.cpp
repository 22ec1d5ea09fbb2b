#include "support/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace UserFolders {

namespace {

fs::path absoluteOrEmpty(const char* text)
{
    if (!text || text[0] != '/')
        return fs::path();
    return fs::path(text);
}

// The value of `XDG_DOWNLOAD_DIR="$HOME/..."` in the user-dirs file, "" when it has none.
fs::path fromUserDirs()
{
    std::ifstream file(xdg("XDG_CONFIG_HOME", ".config") / "user-dirs.dirs");
    const std::string key = "XDG_DOWNLOAD_DIR=";
    for (std::string line; std::getline(file, line);) {
        if (line.compare(0, key.size(), key) != 0)
            continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 6, "$HOME/") == 0)
            return home() / value.substr(6);
        return absoluteOrEmpty(value.c_str());
    }
    return fs::path();
}

}  // namespace

fs::path home()
{
    const char* fromEnvironment = std::getenv("HOME");
    if (fromEnvironment && *fromEnvironment)
        return fromEnvironment;
    const passwd* entry = getpwuid(getuid());
    return entry ? entry->pw_dir : "/";
}

fs::path xdg(const char* variable, const char* fallback)
{
    const fs::path value = absoluteOrEmpty(std::getenv(variable));
    return value.empty() ? home() / fallback : value;
}

fs::path downloads()
{
    fs::path folder = absoluteOrEmpty(std::getenv("XDG_DOWNLOAD_DIR"));
    if (folder.empty())
        folder = fromUserDirs();
    return folder.empty() ? home() / "Downloads" : folder;
}

}  // namespace UserFolders
