// NginxServer: a real nginx (/usr/sbin/nginx) serving a directory on a free port of 127.0.0.1.
//
// Owned by one test or benchmark. The constructor writes a configuration into a temporary folder
// (pid file, logs and temporary paths all inside it), starts nginx in the foreground as one
// process, and returns once the port answers; the destructor stops that process and waits for it.
#pragma once

#include "common/TempFolder.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>

class NginxServer {
public:
    // Throws std::runtime_error when nginx does not come up. With `logConnections`, every request
    // is logged to accessLog() as "<connection number> <request line> <Range header or ->".
    // A `bytesPerSecond` above 0 limits every response to that rate.
    explicit NginxServer(const std::filesystem::path& documentRoot, bool logConnections = false,
                         size_t bytesPerSecond = 0);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    uint16_t port() const { return listenPort; }
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(const std::string& path) const;
    std::string accessLog() const { return dir.file("access.log"); }

private:
    bool start(const std::filesystem::path& documentRoot);
    void stop();

    TempFolder dir;
    const bool logConnections;
    const size_t bytesPerSecond;
    pid_t pid = -1;
    uint16_t listenPort = 0;
};
