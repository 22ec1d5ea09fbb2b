#include "UserServiceCommand.h"

#include "UserServiceUnit.h"
#include "host/InstallLayout.h"
#include "support/UserFolders.h"

#include "platform/AtomicFile.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

const char* const kUserServiceUsage = "zelvorn serve --install-user-service | --remove-user-service";

namespace {

namespace fs = std::filesystem;

const char* const kInstall = "--install-user-service";
const char* const kRemove = "--remove-user-service";
const char* const kUnitName = "zelvorn.service";

fs::path unitFile()
{
    return UserFolders::xdg("XDG_CONFIG_HOME", ".config") / "systemd/user" / kUnitName;
}

// `path` as the program of a systemd command line: quoted, with quotes and backslashes escaped
// and specifiers' "%" doubled (systemd expands no variables in the program's own path).
std::string systemdProgram(const std::string& path)
{
    std::string word = "\"";
    for (char c : path) {
        if (c == '\\' || c == '"')
            word += '\\';
        else if (c == '%')
            word += c;
        word += c;
    }
    return word + "\"";
}

std::string unitText()
{
    std::string text = kUserServiceUnit;
    const std::string mark = "@ZELVORN@";
    text.replace(text.find(mark), mark.size(), systemdProgram(InstallLayout::executable().string()));
    return text;
}

// Runs `systemctl --user <arguments>`; true when it succeeded.
bool systemctl(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {"systemctl", "--user"});
    std::string command;
    std::vector<char*> words;
    for (auto& argument : arguments) {
        command += (command.empty() ? "" : " ") + argument;
        words.push_back(argument.data());
    }
    words.push_back(nullptr);
    pid_t child = -1;
    const int error = posix_spawnp(&child, words[0], nullptr, nullptr, words.data(), environ);
    if (error != 0) {
        std::fprintf(stderr, "zelvorn: cannot run %s: %s\n", command.c_str(), std::strerror(error));
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "zelvorn: `%s` failed\n", command.c_str());
        return false;
    }
    return true;
}

int install()
{
    const fs::path file = unitFile();
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    std::string why;
    if (error || !AtomicFile::write(file.string(), unitText(), 0644, why)) {
        std::fprintf(stderr, "zelvorn: cannot write %s: %s\n", file.c_str(),
                     error ? error.message().c_str() : why.c_str());
        return 1;
    }
    std::printf("zelvorn: wrote %s\n", file.c_str());
    if (!systemctl({"daemon-reload"}) || !systemctl({"enable", "--now", kUnitName})) {
        std::fprintf(stderr, "zelvorn: in your desktop session, run: systemctl --user enable --now %s\n", kUnitName);
        return 1;
    }
    std::printf("zelvorn: `zelvorn serve` runs now and starts with every login of your desktop session\n");
    return 0;
}

int remove()
{
    const fs::path file = unitFile();
    std::error_code error;
    if (!fs::exists(file, error)) {
        std::printf("zelvorn: no user service to remove (%s)\n", file.c_str());
        return 0;
    }
    const bool stopped = systemctl({"disable", "--now", kUnitName});
    if (!fs::remove(file, error)) {
        std::fprintf(stderr, "zelvorn: cannot remove %s: %s\n", file.c_str(), error.message().c_str());
        return 1;
    }
    std::printf("zelvorn: removed %s\n", file.c_str());
    return systemctl({"daemon-reload"}) && stopped ? 0 : 1;
}

}  // namespace

bool wantsUserService(int argc, char** argv)
{
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], kInstall) == 0 || std::strcmp(argv[i], kRemove) == 0)
            return true;
    return false;
}

int runUserService(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s\n", kUserServiceUsage);
        return 2;
    }
    return std::strcmp(argv[2], kInstall) == 0 ? install() : remove();
}
