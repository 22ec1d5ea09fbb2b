#include "ServeProcess.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <regex>
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

int ServeProcess::stop()
{
    process->signal(SIGTERM);
    return process->exited(std::chrono::seconds(30)) ? process->wait() : -1;
}
