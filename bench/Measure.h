// Measure: the timing of in-process work and child processes, and the median, for the benchmarks.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct Sample {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds of the process doing the work
};

double median(std::vector<double> values);
// Times `work` in this process; exits the benchmark when it reports failure.
Sample inProcess(const std::function<bool()>& work);
// Runs `argv` (looked up on PATH) to its end; exits the benchmark when it fails, since later
// figures would mean nothing.
Sample runTool(const std::vector<std::string>& argv);
