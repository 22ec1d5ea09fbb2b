#include "ServeProcess.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

ServeProcess::ServeProcess(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment, const std::string& program)
{
    EXPECT_TRUE(ZelvornProcess::registerControl(dir));
    std::vector<std::string> words{"serve", "--port", "0"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    ZelvornProcess::Options options;
    options.environment = environment;
    options.program = program;
    process.emplace(dir, words, options);

    const std::regex address(R"(http://127\.0\.0\.1:(\d+)/)");
    for (int i = 0; i < 1500 && !listening; ++i) {  // up to 30 s (a sanitizer build starts slowly)
        std::smatch found;
        const std::string printed = process->out();
        if (std::regex_search(printed, found, address))
            listening = static_cast<uint16_t>(std::stoi(found[1]));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(listening, 0) << "zelvorn serve printed no address; its errors: " << errors();
}

ServeProcess::~ServeProcess()
{
    stop();  // a process that does not end by itself is killed as `process` goes
}

std::string ServeProcess::origin() const
{
    return "http://127.0.0.1:" + std::to_string(listening);
}

size_t ServeProcess::residentBytes() const
{
    return std::stoul(process->procStatus("VmRSS")) * 1024;  // "   1234 kB"
}

int ServeProcess::threads() const
{
    return std::stoi(process->procStatus("Threads"));
}

double ServeProcess::cpuSeconds() const
{
    std::ifstream in("/proc/" + std::to_string(process->id()) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // After "pid (command)": state, then fields 4 to 13, then utime and stime in clock ticks.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i < 14; ++i)
        fields >> field;
    double user = 0, system = 0;
    fields >> user >> system;
    return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::vector<pid_t> ServeProcess::hosts() const
{
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // "pid (command) state ppid ...": the command may hold anything, so read after its ')'.
        std::ifstream in(entry.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        if (fields >> state >> parent && parent == process->id())
            children.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return children;
}

void ServeProcess::kill()
{
    process->signal(SIGKILL);
    process->wait();
}

int ServeProcess::stop()
{
    process->signal(SIGTERM);
    return process->exited(std::chrono::seconds(30)) ? process->wait() : -1;
}
