#include "ZelvornProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

extern char** environ;

namespace {

std::atomic<int> runs{0};

}  // namespace

ZelvornProcess::ZelvornProcess(const TempFolder& folder, const std::vector<std::string>& arguments, Options options)
{
    const std::string run = "run" + std::to_string(++runs);
    const std::string in = folder.writeFile(run + ".in", options.input).string();
    outFile = folder.file(run + ".out");
    errFile = folder.file(run + ".err");

    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        variables[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    variables["ZELVORN_REGISTRY_USER"] = folder.file("user.json");
    variables["ZELVORN_REGISTRY_MACHINE"] = folder.file("machine.json");
    for (const auto& entry : options.environment)
        variables[entry.first] = entry.second;
    std::vector<std::string> settings;
    for (const auto& entry : variables)
        settings.push_back(entry.first + "=" + entry.second);
    std::vector<char*> env;
    for (auto& setting : settings)
        env.push_back(setting.data());
    env.push_back(nullptr);

    std::vector<std::string> words{options.program.empty() ? ZV_BINARY_DIR "/app/zelvorn" : options.program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (options.terminal) {
        terminalFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(terminalFd);
        unlockpt(terminalFd);
        posix_spawn_file_actions_addopen(&actions, 1, ptsname(terminalFd), O_WRONLY | O_NOCTTY, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (options.terminal) {
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
    if (pid > 0 && status == -1 && waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    if (reader.joinable())
        reader.join();
    if (terminalFd >= 0)
        close(terminalFd);
}

void ZelvornProcess::signal(int number)
{
    kill(pid, number);
}

int ZelvornProcess::wait()
{
    if (status == -1)
        waitpid(pid, &status, 0);
    if (reader.joinable())
        reader.join();  // the terminal reports an error once the child's side is closed
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ZelvornProcess::out() const
{
    return terminalFd >= 0 ? terminalBytes : TempFolder::readFile(outFile);
}

std::string ZelvornProcess::err() const
{
    return TempFolder::readFile(errFile);
}

bool ZelvornProcess::registerControl(const TempFolder& folder)
{
    ZelvornProcess run(folder, {"register", "--user"});
    return run.wait() == 0;
}
