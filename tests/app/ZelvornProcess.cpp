#include "ZelvornProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

extern char** environ;

namespace {

std::atomic<int> runs{0};

// "NAME=value" for each variable: the inherited ones, then the registry, the user's folders and
// `settings` replacing those of the same name. A name given twice would leave the child's getenv to pick one of them.
std::vector<std::string> childEnvironment(const TempFolder& folder, const std::map<std::string, std::string>& settings)
{
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        variables[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    variables["ZELVORN_REGISTRY_USER"] = folder.file("user.json");
    variables["ZELVORN_REGISTRY_MACHINE"] = folder.file("machine.json");
    // Hosts for pages write only into the user's folders: here the test's own.
    variables["XDG_CONFIG_HOME"] = folder.file("config");
    variables["XDG_STATE_HOME"] = folder.file("state");
    variables["XDG_DOWNLOAD_DIR"] = folder.path().string();
    variables.erase("ZELVORN_SETTINGS");
    variables["ZELVORN_MACHINE_SETTINGS"] = folder.file("machine-settings.json");
    for (const auto& setting : settings)
        variables[setting.first] = setting.second;
    std::vector<std::string> lines;
    for (const auto& variable : variables)
        lines.push_back(variable.first + "=" + variable.second);
    return lines;
}

std::vector<char*> pointers(std::vector<std::string>& words)
{
    std::vector<char*> list;
    for (auto& word : words)
        list.push_back(word.data());
    list.push_back(nullptr);
    return list;
}

}  // namespace

ZelvornProcess::ZelvornProcess(const TempFolder& folder, const std::vector<std::string>& arguments, Options options)
{
    const std::string run = "run" + std::to_string(++runs);
    outFile = folder.file(run + ".out");
    errFile = folder.file(run + ".err");
    std::vector<std::string> settings = childEnvironment(folder, options.environment);
    std::vector<std::string> words{options.program.empty() ? ZV_BINARY_DIR "/app/zelvorn" : options.program};
    words.insert(words.end(), arguments.begin(), arguments.end());

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int toChild[2] = {-1, -1}, fromChild[2] = {-1, -1};
    if (options.pipes) {
        ::signal(SIGPIPE, SIG_IGN);  // a child that died fails the test at write() instead of ending it
        // Close-on-exec: a child spawned meanwhile by the same test must not hold these ends open.
        EXPECT_EQ(pipe2(toChild, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(fromChild, O_CLOEXEC), 0);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    } else {
        const std::string in = folder.writeFile(run + ".in", options.input).string();
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
        terminalStream = options.terminal ? 1 : options.errorTerminal ? 2 : -1;
        if (terminalStream > 0) {
            terminalFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            grantpt(terminalFd);
            unlockpt(terminalFd);
            winsize size{};
            size.ws_col = options.columns;
            size.ws_row = 24;
            ioctl(terminalFd, TIOCSWINSZ, &size);
            posix_spawn_file_actions_addopen(&actions, terminalStream, ptsname(terminalFd), O_WRONLY | O_NOCTTY, 0);
        }
        if (terminalStream != 1)
            posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (terminalStream != 2)
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(posix_spawn(&pid, words[0].c_str(), &actions, nullptr, pointers(words).data(), pointers(settings).data()),
              0)
        << words[0];
    posix_spawn_file_actions_destroy(&actions);
    if (options.pipes) {
        close(toChild[0]);
        close(fromChild[1]);
        inputFd = toChild[1];
        outputFd = fromChild[0];
    }
    if (terminalFd >= 0) {
        // Read as it comes: a terminal's buffer is small, and a full one would block the child.
        reader = std::thread([this] {
            char buffer[4096];
            for (ssize_t n; (n = read(terminalFd, buffer, sizeof buffer)) > 0;)
                terminalBytes.append(buffer, static_cast<size_t>(n));
        });
    }
}

ZelvornProcess::~ZelvornProcess()
{
    closeInput();
    if (!reap(WNOHANG) && pid > 0) {
        kill(pid, SIGKILL);
        reap(0);
    }
    if (reader.joinable())
        reader.join();
    for (const int fd : {outputFd, terminalFd})
        if (fd >= 0)
            close(fd);
}

bool ZelvornProcess::reap(int flags)
{
    if (!ended && pid > 0 && waitpid(pid, &status, flags) == pid)
        ended = true;
    return ended;
}

void ZelvornProcess::signal(int number)
{
    if (!ended && pid > 0)
        kill(pid, number);
}

int ZelvornProcess::wait()
{
    reap(0);
    if (reader.joinable())
        reader.join();  // the terminal reports an error once the child's side is closed
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ZelvornProcess::killedBy() const
{
    return ended && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

bool ZelvornProcess::exited(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!reap(WNOHANG) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ended;
}

std::string ZelvornProcess::out() const
{
    return terminalStream == 1 ? terminalBytes : TempFolder::readFile(outFile);
}

std::string ZelvornProcess::err() const
{
    return terminalStream == 2 ? terminalBytes : TempFolder::readFile(errFile);
}

std::string ZelvornProcess::procStatus(const std::string& name) const
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; !ended && std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0)
            return line.substr(name.size() + 1);
    return "";
}

std::string ZelvornProcess::maps() const
{
    return ended ? "" : TempFolder::readFile("/proc/" + std::to_string(pid) + "/maps");
}

bool ZelvornProcess::write(const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(inputFd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void ZelvornProcess::closeInput()
{
    if (inputFd >= 0)
        close(inputFd);
    inputFd = -1;
}

bool ZelvornProcess::readLines(std::chrono::milliseconds limit, std::string& lines)
{
    pollfd ready{outputFd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(limit.count())) <= 0)
        return true;
    char buffer[65536];
    const ssize_t n = read(outputFd, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    partial.append(buffer, static_cast<size_t>(n));
    const size_t end = partial.rfind('\n');
    if (end != std::string::npos) {
        lines.append(partial, 0, end + 1);
        partial.erase(0, end + 1);
    }
    return true;
}

bool ZelvornProcess::readBytes(std::chrono::milliseconds limit, std::string& bytes)
{
    pollfd ready{outputFd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(limit.count())) <= 0)
        return true;
    char buffer[65536];
    const ssize_t n = read(outputFd, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    bytes.append(buffer, static_cast<size_t>(n));
    return true;
}

bool ZelvornProcess::registerControl(const TempFolder& folder)
{
    ZelvornProcess run(folder, {"register", "--user"});
    return run.wait() == 0;
}
