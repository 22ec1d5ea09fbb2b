#include "common/NginxServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const char* const kNginx = "/usr/sbin/nginx";

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port nobody listens on right now (the kernel's choice for an ephemeral bind).
uint16_t freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool answers(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(port);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

}  // namespace

NginxServer::NginxServer(const std::filesystem::path& documentRoot, bool logging, size_t rate)
    : logConnections(logging), bytesPerSecond(rate)
{
    // Another process may take the chosen port before nginx binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt)
        if (start(documentRoot))
            return;
    throw std::runtime_error("nginx did not start; see " + dir.file("error.log"));
}

NginxServer::~NginxServer()
{
    stop();
}

std::string NginxServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(listenPort) + path;
}

bool NginxServer::start(const std::filesystem::path& documentRoot)
{
    listenPort = freePort();
    const std::string d = dir.path().string();
    // One process (master_process off) never switches to another user, so when the tests run as
    // root nginx keeps root's rights and reads the files they made in /tmp.
    std::ofstream config(dir.file("nginx.conf"));
    config << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
           << "pid " << d << "/nginx.pid;\nerror_log " << d << "/error.log warn;\n"
           << "events { worker_connections 256; }\n"
           << "http {\n  log_format connections '$connection $request $http_range';\n"
           << "  access_log " << (logConnections ? accessLog() + " connections" : std::string("off")) << ";\n"
           << "  default_type application/octet-stream;\n  sendfile on;\n"
           << "  client_body_temp_path " << d << "/client_body;\n  proxy_temp_path " << d << "/proxy;\n"
           << "  fastcgi_temp_path " << d << "/fastcgi;\n  uwsgi_temp_path " << d << "/uwsgi;\n"
           << "  scgi_temp_path " << d << "/scgi;\n"
           << "  server {\n    listen 127.0.0.1:" << listenPort << ";\n    root " << documentRoot.string() << ";\n"
           << "    location / { limit_rate " << bytesPerSecond << "; }\n  }\n}\n";
    config.close();

    const std::string prefix = d + "/", conf = dir.file("nginx.conf"), errors = dir.file("error.log");
    const int quiet = open("/dev/null", O_RDWR);
    pid = fork();
    if (pid == 0) {
        dup2(quiet, 1);
        dup2(quiet, 2);
        execl(kNginx, kNginx, "-p", prefix.c_str(), "-c", conf.c_str(), "-e", errors.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(quiet);
    if (pid < 0)
        return false;

    for (int i = 0; i < 500; ++i) {  // up to 10 s
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        if (answers(listenPort))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    return false;
}

void NginxServer::stop()
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 250; ++i) {  // up to 5 s for a clean exit
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}
