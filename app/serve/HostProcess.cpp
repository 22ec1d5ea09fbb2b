#include "HostProcess.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

extern char** environ;

namespace {

// A host that has closed its output is about to exit; one that has not after this long is killed.
constexpr std::chrono::milliseconds kReapPause{10};
constexpr int kReapTries = 1000;

}  // namespace

HostProcess::HostProcess(Token, const Executor& strand, Listener toSession)
    : listener(std::move(toSession)), input(strand), output(strand), reapTimer(strand)
{
}

std::shared_ptr<HostProcess> HostProcess::start(const Executor& strand, const std::string& origin, Listener listener,
                                                std::string& error)
{
    int toHost[2] = {-1, -1}, fromHost[2] = {-1, -1};
    if (pipe2(toHost, O_CLOEXEC) != 0 || pipe2(fromHost, O_CLOEXEC) != 0) {
        error = std::string("no pipe for the session's host: ") + std::strerror(errno);
        for (const int fd : {toHost[0], toHost[1]})
            if (fd >= 0)
                close(fd);
        return nullptr;
    }
    std::vector<std::string> words{"zelvorn", "page-host", "--origin", origin, "--parent", std::to_string(getpid())};
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHost[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromHost[1], 1);
    // Sockets of pages must not stay open in a host: their close would never reach the page.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    // This very executable, even when its file has been replaced since it started.
    const int failed = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toHost[0]);
    close(fromHost[1]);
    if (failed) {
        error = std::string("the session's host cannot be started: ") + std::strerror(failed);
        close(toHost[1]);
        close(fromHost[0]);
        return nullptr;
    }
    auto host = std::make_shared<HostProcess>(Token{}, strand, std::move(listener));
    host->pid = pid;
    host->input.assign(toHost[1]);
    host->output.assign(fromHost[0]);
    boost::asio::dispatch(strand, [host] { host->readLength(); });
    return host;
}

HostProcess::~HostProcess()
{
    if (!reaped && pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

void HostProcess::readLength()
{
    boost::asio::async_read(output, boost::asio::buffer(&length, sizeof length),
                            [self = shared_from_this()](boost::system::error_code error, size_t) {
                                if (error || self->length == 0 || self->length > HostFrame::kMaxBytes)
                                    return self->onOutputEnded();
                                self->readBody(self->length);
                            });
}

void HostProcess::readBody(uint32_t size)
{
    body.resize(size);
    boost::asio::async_read(output, boost::asio::buffer(&body[0], size),
                            [self = shared_from_this()](boost::system::error_code error, size_t) {
                                HostFrame::Kind kind;
                                std::string text;
                                if (error || !HostFrame::decode(self->body, kind, text))
                                    return self->onOutputEnded();
                                self->listener.frame(kind, std::move(text));
                                self->readLength();
                            });
}

void HostProcess::send(HostFrame::Kind kind, const std::string& text)
{
    if (!input.is_open() || closeWhenWritten)
        return;
    unwritten.push_back(HostFrame::encode(kind, text));
    if (!writing)
        writeNext();
}

void HostProcess::writeNext()
{
    if (unwritten.empty()) {
        boost::system::error_code ignored;
        if (closeWhenWritten)
            input.close(ignored);
        return;
    }
    writing = true;
    boost::asio::async_write(input, boost::asio::buffer(unwritten.front()),
                             [self = shared_from_this()](boost::system::error_code error, size_t) {
                                 self->writing = false;
                                 self->unwritten.pop_front();
                                 if (error) {  // the host has gone; its output's end says so
                                     self->unwritten.clear();
                                     boost::system::error_code ignored;
                                     self->input.close(ignored);
                                     return;
                                 }
                                 self->writeNext();
                             });
}

void HostProcess::closeInput()
{
    closeWhenWritten = true;
    if (!writing && input.is_open())
        writeNext();
}

void HostProcess::onOutputEnded()
{
    boost::system::error_code ignored;
    output.close(ignored);
    closeInput();
    reap();
}

void HostProcess::reap()
{
    if (waitpid(pid, nullptr, WNOHANG) == pid || ++reapTries > kReapTries) {
        if (reapTries > kReapTries) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        reaped = true;
        boost::system::error_code ignored;
        input.close(ignored);
        listener.ended();
        return;
    }
    reapTimer.expires_after(kReapPause);
    reapTimer.async_wait([self = shared_from_this()](boost::system::error_code) { self->reap(); });
}
