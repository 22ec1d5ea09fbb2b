// ZelvornProcess: the built zelvorn executable, run as a child process the way a person, a browser
// or a page's host runs it, with a registry of the test's own (hive files in the test's folder)
// and the test's folder as the user's download folder (and its config and state folders below
// it, and the machine's settings file in it). The child's environment is the inherited one with those and the test's
// own settings in place of any inherited variable of the same name, so a caller's registry or settings never leak in.
//
// Standard input comes from a file holding `input`; standard output goes to a file that out()
// reads, or with `terminal` to a pseudo-terminal whose bytes out() returns. With `pipes`, both are
// pipes instead, for a host watched while it reads: write() feeds it, readLines() reads it.
// Standard error goes to a file that err() reads, or with `errorTerminal` (and no `terminal`) to a
// pseudo-terminal whose bytes err() returns.
//
// Owned by one test, on its thread. The destructor kills a child still running and reaps it.
#pragma once

#include "common/TempFolder.h"

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

class ZelvornProcess {
public:
    struct Options {
        std::string input;
        std::map<std::string, std::string> environment;  // set for the child, replacing inherited ones
        bool pipes = false;
        bool terminal = false;
        bool errorTerminal = false;
        unsigned short columns = 80;  // the terminal's width
        std::string program;          // run instead of zelvorn: a program that runs it in turn
    };

    ZelvornProcess(const TempFolder& folder, const std::vector<std::string>& arguments, Options options);
    ZelvornProcess(const TempFolder& folder, const std::vector<std::string>& arguments)
        : ZelvornProcess(folder, arguments, Options())
    {
    }
    ~ZelvornProcess();
    ZelvornProcess(const ZelvornProcess&) = delete;
    ZelvornProcess& operator=(const ZelvornProcess&) = delete;

    pid_t processId() const { return pid; }
    // Sends a signal to the child while it has not been reaped (its pid is still its own).
    void signal(int number);
    // The child's process id.
    pid_t id() const { return pid; }
    // Waits for the exit: the exit status, or -1 when a signal killed the child.
    int wait();
    // The signal that killed the child, 0 while it runs or when it exited by itself.
    int killedBy() const;
    // Waits up to `limit` for the exit; true once the child has exited (wait() then returns at once).
    bool exited(std::chrono::milliseconds limit);
    // What the child wrote; on a terminal, complete once wait() has returned.
    std::string out() const;
    std::string err() const;
    // A field of the child's /proc/<pid>/status ("VmRSS", "Threads"...), "" once it has ended.
    std::string procStatus(const std::string& name) const;
    // The child's /proc/<pid>/maps: every file it has mapped, its libraries among them.
    std::string maps() const;

    // With `pipes`: writes all of `bytes`; false when the child no longer reads.
    bool write(const std::string& bytes);
    void closeInput();
    // With `pipes`: waits up to `limit` for output and appends the whole lines read, each with its
    // '\n', to `lines`; false once the output has ended (a last line cut off by the end is dropped,
    // as a page never receives half an event).
    bool readLines(std::chrono::milliseconds limit, std::string& lines);
    // With `pipes`: waits up to `limit` for output and appends what came to `bytes`; false once
    // the output has ended.
    bool readBytes(std::chrono::milliseconds limit, std::string& bytes);

    // Runs `zelvorn register --user` into the folder's hive; true when it succeeded.
    static bool registerControl(const TempFolder& folder);

private:
    // Collects the exit, waiting for it unless `flags` holds WNOHANG; true once collected.
    bool reap(int flags);

    pid_t pid = -1;
    bool ended = false;
    int status = 0;  // as waitpid gives it, once `ended`
    std::string outFile, errFile;
    int inputFd = -1, outputFd = -1;
    std::string partial;  // output read past the last whole line
    int terminalFd = -1;
    int terminalStream = -1;    // the child's descriptor that writes to the terminal
    std::string terminalBytes;  // written by `reader` until the child's side closes
    std::thread reader;
};
