#include "Settings.h"

#include "UserFolders.h"
#include "platform/AtomicFile.h"
#include "support/JsonText.h"
#include "support/Text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace Settings {

namespace {

const char* const kRoots = "downloadRoots";
const char* const kOrigins = "origins";

Json::Value load()
{
    std::ifstream file(path());
    if (!file)
        return Json::Value(Json::objectValue);
    std::stringstream text;
    text << file.rdbuf();
    Json::Value settings;
    if (!parseJson(text.str(), settings) || !settings.isObject()) {
        std::fprintf(stderr, "zelvorn: %s is not a JSON object; read as empty\n", path().c_str());
        return Json::Value(Json::objectValue);
    }
    return settings;
}

void appendRoots(const Json::Value& holder, std::vector<std::wstring>& roots)
{
    if (!holder.isObject() || !holder[kRoots].isArray())
        return;
    for (const Json::Value& root : holder[kRoots])
        if (root.isString() && !root.asString().empty() && root.asString()[0] == '/')
            roots.push_back(fromUtf8(root.asString()));
}

}  // namespace

std::string path()
{
    const char* named = std::getenv("ZELVORN_SETTINGS");
    if (named && *named)
        return named;
    return (UserFolders::xdg("XDG_CONFIG_HOME", ".config") / "zelvorn" / "settings.json").string();
}

std::vector<std::wstring> downloadRoots(const std::string& origin)
{
    std::vector<std::wstring> roots{fromUtf8(UserFolders::downloads().string())};
    const Json::Value settings = load();
    appendRoots(settings, roots);
    const Json::Value& origins = settings[kOrigins];
    if (origins.isObject())
        appendRoots(origins[origin], roots);
    return roots;
}

bool rememberFolder(const std::string& origin, const std::wstring& folder)
{
    const std::string file = path();
    std::error_code ignored;
    fs::create_directories(fs::path(file).parent_path(), ignored);
    const int lock = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    Json::Value settings = load();
    if (!settings[kOrigins].isObject())
        settings[kOrigins] = Json::Value(Json::objectValue);
    Json::Value& own = settings[kOrigins][origin];
    if (!own.isObject())
        own = Json::Value(Json::objectValue);
    if (!own[kRoots].isArray())
        own[kRoots] = Json::Value(Json::arrayValue);
    const std::string text = toUtf8(folder);
    bool known = false;
    for (const Json::Value& root : own[kRoots])
        known = known || (root.isString() && root.asString() == text);
    if (!known)
        own[kRoots].append(text);
    std::string error;
    const bool written = known || AtomicFile::write(file, writeCompactJson(settings), 0600, error);
    if (!written)
        std::fprintf(stderr, "zelvorn: the folder picked for %s is not remembered: %s\n", origin.c_str(),
                     error.c_str());
    if (lock >= 0)
        ::close(lock);
    return written;
}

}  // namespace Settings
