#include "platform/DesktopFolderPicker.h"

#include "support/Text.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace {

enum class Outcome { chosen, cancelled, missing };

// Runs one dialog program and reads the folder it prints.
Outcome runDialog(const std::vector<std::string>& args, std::string& chosen)
{
    int out[2];
    if (pipe(out) != 0)
        return Outcome::cancelled;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return spawned == ENOENT ? Outcome::missing : Outcome::cancelled;
    }
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // posix_spawnp reports a program it could not execute as exit status 127.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        return Outcome::missing;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty())
        return Outcome::cancelled;
    chosen = text;
    return Outcome::chosen;
}

}  // namespace

FolderPicker::Choice DesktopFolderPicker::pick(const std::wstring& title)
{
    Choice choice;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x11 || !*x11) && (!wayland || !*wayland)) {
        choice.outcome = Choice::Outcome::unavailable;
        choice.reason = "no desktop: neither DISPLAY nor WAYLAND_DISPLAY is set";
        return choice;
    }
    const std::string caption = toUtf8(title);
    const std::vector<std::vector<std::string>> dialogs = {
        {"zenity", "--file-selection", "--directory", "--title=" + caption},
        {"kdialog", "--getexistingdirectory", ".", "--title", caption},
    };
    for (const auto& dialog : dialogs) {
        std::string chosen;
        switch (runDialog(dialog, chosen)) {
        case Outcome::chosen:
            choice.outcome = Choice::Outcome::chosen;
            choice.path = fromUtf8(chosen);
            return choice;
        case Outcome::cancelled:
            return choice;
        case Outcome::missing:
            break;
        }
    }
    choice.outcome = Choice::Outcome::unavailable;
    choice.reason = "no folder dialog: neither zenity nor kdialog is installed";
    return choice;
}
