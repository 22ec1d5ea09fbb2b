// ZelvornProcess: the built zelvorn executable, run as a child process the way a person or a
// browser runs it, with a registry of the test's own (hive files in the test's folder). Standard
// input comes from a file holding `input`; standard output and error go to files that out() and
// err() read; or, with `terminal`, standard output is a pseudo-terminal whose bytes out() returns.
//
// Owned by one test, on its thread. The destructor kills a child still running and reaps it.
#pragma once

#include "common/TempFolder.h"

#include <sys/types.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

class ZelvornProcess {
public:
    struct Options {
        std::string input;
        std::map<std::string, std::string> environment;  // set (or replaced) for the child
        bool terminal = false;
        std::string program;  // run instead of zelvorn: a program that runs it in turn
    };

    ZelvornProcess(const TempFolder& folder, const std::vector<std::string>& arguments, Options options);
    ZelvornProcess(const TempFolder& folder, const std::vector<std::string>& arguments)
        : ZelvornProcess(folder, arguments, Options())
    {
    }
    ~ZelvornProcess();
    ZelvornProcess(const ZelvornProcess&) = delete;
    ZelvornProcess& operator=(const ZelvornProcess&) = delete;

    void signal(int number);
    // Waits for the exit: the exit status, or -1 when a signal killed the child.
    int wait();
    // What the child wrote; on a terminal, complete once wait() has returned.
    std::string out() const;
    std::string err() const;

    // Runs `zelvorn register --user` into the folder's hive; true when it succeeded.
    static bool registerControl(const TempFolder& folder);

private:
    pid_t pid = -1;
    int status = -1;
    std::string outFile, errFile;
    int terminalFd = -1;
    std::string terminalBytes;   // written by `reader` until the child's side closes
    std::thread reader;
};
