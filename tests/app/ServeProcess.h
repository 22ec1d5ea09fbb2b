// ServeProcess: the built `zelvorn serve` running for one test, on a free port of 127.0.0.1,
// with the module registered in the test's own hive files, and what a test needs to watch it:
// its address, its standard error, its resident memory, thread count and session hosts (its
// child processes) from /proc, and its exit status after SIGTERM.
//
// Owned by one test, used on its thread; the destructor ends the process if the test has not.
#pragma once

#include "ZelvornProcess.h"
#include "common/TempFolder.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

class ServeProcess {
public:
    // Starts `zelvorn serve --port 0` with `arguments` after it, and `environment` settings that
    // replace its own and the inherited ones; fails the test (and leaves port() 0) when it does not
    // print its address. `program` runs another zelvorn (an installed one) in place of the built
    // one.
    explicit ServeProcess(const std::vector<std::string>& arguments = {},
                          const std::map<std::string, std::string>& environment = {}, const std::string& program = "");
    ~ServeProcess();
    ServeProcess(const ServeProcess&) = delete;
    ServeProcess& operator=(const ServeProcess&) = delete;

    uint16_t port() const { return listening; }
    // "http://127.0.0.1:<port>"
    std::string origin() const;
    std::string errors() const { return process->err(); }
    // VmRSS and the number of threads, from /proc/<pid>/status.
    size_t residentBytes() const;
    int threads() const;
    // The files it has mapped (/proc/<pid>/maps).
    std::string maps() const { return process->maps(); }
    // The processor time it has used so far, user and system.
    double cpuSeconds() const;
    // The process ids of its children: the hosts of its sessions.
    std::vector<pid_t> hosts() const;
    pid_t id() const { return process->id(); }
    // SIGTERM, then the exit status (-1 when it did not exit by itself, within 30 s).
    int stop();
    // SIGKILL, and waits for the end.
    void kill();

private:
    TempFolder dir;
    std::optional<ZelvornProcess> process;  // started once the control is registered
    uint16_t listening = 0;
};
