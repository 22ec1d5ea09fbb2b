#include "Measure.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double seconds(const timeval& t)
{
    return t.tv_sec + t.tv_usec / 1e6;
}

double cpuOf(const rusage& usage)
{
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Seconds on the monotonic clock.
double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

Sample inProcess(const std::function<bool()>& work)
{
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const double start = now();
    if (!work()) {
        std::fprintf(stderr, "in-process run failed\n");
        std::exit(1);
    }
    Sample sample;
    sample.wall = now() - start;
    getrusage(RUSAGE_SELF, &after);
    sample.cpu = cpuOf(after) - cpuOf(before);
    return sample;
}

Sample runTool(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    const double start = now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Sample sample;
    sample.wall = now() - start;
    sample.cpu = cpuOf(usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv[0].c_str(), status);
        std::exit(1);
    }
    return sample;
}
