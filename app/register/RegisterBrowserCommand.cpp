#include "RegisterBrowserCommand.h"

#include "support/UserFolders.h"

#include "platform/AtomicFile.h"
#include "support/JsonText.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

const char* const kRegisterBrowserUsage =
    "zelvorn register-browser [--user|--system] --extension-id ID... [--unregister]\n"
    "           --user, --system       the user's browser folders (default) or the machine's\n"
    "           --extension-id ID      allow a Chrome or Chromium (32 letters a-p) or a Firefox\n"
    "                                  (name@domain, {uuid}) extension; may be repeated\n"
    "           --unregister           remove the manifests and the launcher";

namespace {

namespace fs = std::filesystem;

const char* const kHostName = "com.dravik.zelvorn";
const size_t kMaxFirefoxIdLength = 80;

struct Browser {
    bool chromeFamily;  // takes "allowed_origins"; Firefox takes "allowed_extensions"
    fs::path folder;    // where it looks for host manifests
};

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<Browser> browsers(bool system)
{
    if (system) {
        const fs::path root = environment("DESTDIR").empty() ? fs::path("/") : fs::path(environment("DESTDIR"));
        return {{true, root / "etc/opt/chrome/native-messaging-hosts"},     // Chrome
                {true, root / "etc/chromium/native-messaging-hosts"},       // Chromium
                {false, root / "usr/lib/mozilla/native-messaging-hosts"}};  // Firefox
    }
    const fs::path config = UserFolders::xdg("XDG_CONFIG_HOME", ".config");
    return {{true, config / "google-chrome/NativeMessagingHosts"},
            {true, config / "chromium/NativeMessagingHosts"},
            {false, UserFolders::home() / ".mozilla/native-messaging-hosts"}};
}

// Where the launcher goes, and the path the manifests name (without $DESTDIR).
void launcherPaths(bool system, fs::path& file, fs::path& named)
{
    if (system) {
        named = "/usr/local/lib/zelvorn/native-host";
        file = environment("DESTDIR").empty() ? named : fs::path(environment("DESTDIR")) / named.relative_path();
    } else {
        named = file = UserFolders::xdg("XDG_DATA_HOME", ".local/share") / "zelvorn/native-host";
    }
}

// `text` as one word of the shell, whatever it holds.
std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool writeFile(const fs::path& file, const std::string& text, mode_t mode)
{
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    std::string why;
    if (!error && AtomicFile::write(file.string(), text, mode, why)) {
        std::printf("zelvorn: wrote %s\n", file.c_str());
        return true;
    }
    std::fprintf(stderr, "zelvorn: cannot write %s: %s%s\n", file.c_str(),
                 error ? error.message().c_str() : why.c_str(),
                 geteuid() == 0 ? "" : " (the machine's folders need root; --user writes your own)");
    return false;
}

bool removeFile(const fs::path& file)
{
    std::error_code error;
    if (fs::remove(file, error)) {
        std::printf("zelvorn: removed %s\n", file.c_str());
        return true;
    }
    if (!error)
        return true;  // there was nothing to remove
    std::fprintf(stderr, "zelvorn: cannot remove %s: %s\n", file.c_str(), error.message().c_str());
    return false;
}

std::string manifest(const fs::path& launcher, bool chromeFamily, const std::vector<std::string>& ids)
{
    Json::Value text;
    text["name"] = kHostName;
    text["description"] = "Zelvorn resumable downloads";
    text["path"] = launcher.string();
    text["type"] = "stdio";
    Json::Value& allowed = text[chromeFamily ? "allowed_origins" : "allowed_extensions"];
    allowed = Json::Value(Json::arrayValue);
    for (const auto& id : ids)
        allowed.append(chromeFamily ? "chrome-extension://" + id + "/" : id);
    return writeCompactJson(text);
}

int usageError(const std::string& problem)
{
    std::fprintf(stderr, "zelvorn register-browser: %s\nusage: %s\n", problem.c_str(), kRegisterBrowserUsage);
    return 2;
}

}  // namespace

int runRegisterBrowser(int argc, char** argv)
{
    bool system = false;
    bool unregister = false;
    std::vector<std::string> chromeIds, firefoxIds;
    static const std::regex chromeId("[a-p]{32}");
    // Firefox takes name@domain (at most 80 characters) or a UUID in braces, 8-4-4-4-12 hex digits.
    static const std::regex firefoxId(
        "[A-Za-z0-9._+-]+@[A-Za-z0-9._-]+|"
        "\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}");
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--user" || argument == "--system") {
            system = argument == "--system";
        } else if (argument == "--unregister") {
            unregister = true;
        } else if (argument == "--extension-id") {
            if (i + 1 == argc)
                return usageError("--extension-id needs a value");
            const std::string id = argv[++i];
            if (std::regex_match(id, chromeId))
                chromeIds.push_back(id);
            else if (id.size() <= kMaxFirefoxIdLength && std::regex_match(id, firefoxId))
                firefoxIds.push_back(id);
            else
                return usageError("not a Chrome or Firefox extension ID: " + id);
        } else {
            return usageError("unknown argument " + argument);
        }
    }
    if (!unregister && chromeIds.empty() && firefoxIds.empty())
        return usageError("name the allowed extension with --extension-id");

    fs::path launcher, named;
    launcherPaths(system, launcher, named);
    const std::string manifestName = std::string(kHostName) + ".json";
    bool ok = true;
    if (unregister) {
        for (const auto& browser : browsers(system))
            ok = removeFile(browser.folder / manifestName) && ok;
        return removeFile(launcher) && ok ? 0 : 1;
    }

    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    const std::string script = "#!/bin/sh\n# Starts the Zelvorn native-messaging host for a browser.\nexec " +
                               shellQuoted(executable.string()) + " native \"$@\"\n";
    if (error || !writeFile(launcher, script, 0755))
        return 1;
    // Every browser's manifest is made anew: one for IDs no longer named is removed, so that it
    // allows no extension the user did not name this time.
    for (const auto& browser : browsers(system)) {
        const auto& ids = browser.chromeFamily ? chromeIds : firefoxIds;
        const fs::path file = browser.folder / manifestName;
        ok = (ids.empty() ? removeFile(file) : writeFile(file, manifest(named, browser.chromeFamily, ids), 0644)) && ok;
    }
    return ok ? 0 : 1;
}
