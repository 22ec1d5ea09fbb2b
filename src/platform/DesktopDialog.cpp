#include "platform/DesktopDialog.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace DesktopDialog {

std::string whyNoDesktop()
{
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x11 || !*x11) && (!wayland || !*wayland))
        return "no desktop: neither DISPLAY nor WAYLAND_DISPLAY is set";
    return "";
}

// What run() tells an Ending: the child it started, and that the child is done.
struct Run {
    static void started(Ending* ending, pid_t child)
    {
        if (!ending)
            return;
        std::lock_guard<std::mutex> guard(ending->lock);
        ending->child = child;
        if (ending->ended)
            ::kill(child, SIGTERM);
    }
    static void done(Ending* ending)
    {
        if (!ending)
            return;
        std::lock_guard<std::mutex> guard(ending->lock);
        ending->child = 0;
    }
};

void Ending::interrupt()
{
    std::lock_guard<std::mutex> guard(lock);
    if (child > 0)
        ::kill(child, SIGTERM);
}

void Ending::end()
{
    std::lock_guard<std::mutex> guard(lock);
    ended = true;
    if (child > 0)
        ::kill(child, SIGTERM);
}

// Starts `args` with its standard output on `out`; posix_spawnp's error, 0 when it started.
static int spawn(const std::vector<std::string>& args, int out, pid_t& child)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // The dialog starts with no signal blocked and none ignored, whatever its host holds back
    // (serve waits for SIGTERM on one thread), so that ending it with SIGTERM works.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int spawned = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return spawned;
}

Result run(const std::vector<std::string>& args, Ending* ending)
{
    Result result;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        result.outcome = Result::Outcome::answered;
        return result;
    }
    pid_t child = -1;
    const int spawned = spawn(args, out[1], child);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        result.outcome = spawned == ENOENT ? Result::Outcome::missing : Result::Outcome::answered;
        return result;
    }
    Run::started(ending, child);
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            result.output.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    // Exited but not yet reaped, the child keeps its id while the Ending lets it go.
    siginfo_t exited{};
    while (waitid(P_PID, static_cast<id_t>(child), &exited, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    Run::done(ending);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // posix_spawnp reports a program it could not execute as exit status 127.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        return result;
    result.outcome = Result::Outcome::answered;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    while (!result.output.empty() && (result.output.back() == '\n' || result.output.back() == '\r'))
        result.output.pop_back();
    return result;
}

}  // namespace DesktopDialog
