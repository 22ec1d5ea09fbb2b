#include "Settings.h"

#include "support/UserFolders.h"
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
    std::string problem;
    Json::Value settings = read(path(), problem);
    if (!problem.empty())
        std::fprintf(stderr, "zelvorn: %s; read as empty\n", problem.c_str());
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

std::string machinePath()
{
    const char* named = std::getenv("ZELVORN_MACHINE_SETTINGS");
    return named && *named ? named : "/etc/zelvorn/settings.json";
}

Json::Value read(const std::string& file, std::string& problem)
{
    std::ifstream in(file);
    std::error_code missing;
    if (!in) {
        if (fs::exists(file, missing) || missing)
            problem = file + " cannot be read";
        return Json::Value(Json::objectValue);
    }
    std::stringstream text;
    text << in.rdbuf();
    Json::Value settings;
    if (in.bad() || !parseJson(text.str(), settings) || !settings.isObject()) {
        problem = file + " is not a JSON object";
        return Json::Value(Json::objectValue);
    }
    return settings;
}

bool edit(const std::function<void(Json::Value&)>& change, std::string& error)
{
    const std::string file = path();
    std::error_code ignored;
    fs::create_directories(fs::path(file).parent_path(), ignored);
    const int lock = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    std::string problem;
    Json::Value settings = read(file, problem);
    bool written = false;
    if (!problem.empty()) {
        error = problem + "; mend or remove it first";
    } else {
        change(settings);
        written = AtomicFile::write(file, writeCompactJson(settings), 0600, error);
    }
    if (lock >= 0)
        ::close(lock);
    return written;
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
    const std::string text = toUtf8(folder);
    std::string error;
    const bool written = edit(
        [&](Json::Value& settings) {
            if (!settings[kOrigins].isObject())
                settings[kOrigins] = Json::Value(Json::objectValue);
            Json::Value& own = settings[kOrigins][origin];
            if (!own.isObject())
                own = Json::Value(Json::objectValue);
            if (!own[kRoots].isArray())
                own[kRoots] = Json::Value(Json::arrayValue);
            for (const Json::Value& root : own[kRoots])
                if (root.isString() && root.asString() == text)
                    return;
            own[kRoots].append(text);
        },
        error);
    if (!written)
        std::fprintf(stderr, "zelvorn: the folder picked for %s is not remembered: %s\n", origin.c_str(),
                     error.c_str());
    return written;
}

}  // namespace Settings
