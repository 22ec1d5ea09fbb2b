#include "ServeProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

extern char** environ;

namespace {

const std::string kProgram = ZV_BINARY_DIR "/app/zelvorn";

}  // namespace

ServeProcess::ServeProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment)
{
    std::vector<std::string> settings{"ZELVORN_REGISTRY_USER=" + dir.file("user.json"),
                                      "ZELVORN_REGISTRY_MACHINE=" + dir.file("machine.json")};
    const std::string registering = settings[0] + " " + settings[1] + " '" + kProgram + "' register --user >/dev/null";
    EXPECT_EQ(std::system(registering.c_str()), 0);
    settings.insert(settings.begin(), environment.begin(), environment.end());  // the first of a name counts

    std::vector<char*> env;
    for (auto& setting : settings)
        env.push_back(setting.data());
    for (char** inherited = environ; *inherited; ++inherited)
        env.push_back(*inherited);
    env.push_back(nullptr);
    std::vector<std::string> words{kProgram, "serve", "--port", "0"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = dir.file("stdout"), err = dir.file("stderr");
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(posix_spawn(&pid, kProgram.c_str(), &actions, nullptr, argv.data(), env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);

    const std::regex address(R"(http://127\.0\.0\.1:(\d+)/)");
    for (int i = 0; i < 1500 && !listening; ++i) {  // up to 30 s (a sanitizer build starts slowly)
        std::smatch found;
        const std::string printed = TempFolder::readFile(out);
        if (std::regex_search(printed, found, address))
            listening = static_cast<uint16_t>(std::stoi(found[1]));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(listening, 0) << "zelvorn serve printed no address; its errors: " << errors();
}

ServeProcess::~ServeProcess()
{
    if (pid > 0 && stop() == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

std::string ServeProcess::origin() const
{
    return "http://127.0.0.1:" + std::to_string(listening);
}

std::string ServeProcess::statusField(const std::string& name) const
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0)
            return line.substr(name.size() + 1);
    return "";
}

size_t ServeProcess::residentBytes() const
{
    return std::stoul(statusField("VmRSS")) * 1024;  // "   1234 kB"
}

int ServeProcess::threads() const
{
    return std::stoi(statusField("Threads"));
}

int ServeProcess::stop()
{
    if (pid <= 0)
        return status;
    kill(pid, SIGTERM);
    int raw = 0;
    for (int i = 0; i < 1500; ++i) {
        if (waitpid(pid, &raw, WNOHANG) == pid) {
            pid = -1;
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}
