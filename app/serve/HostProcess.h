// HostProcess: serve's side of the host of one session: `zelvorn page-host` (PageHost.h) started
// as a child process of this executable for a page's origin, its standard input and output
// pipes of HostFrame messages, its standard error serve's own.
//
// Owned by its session and by its pending pipe operations (shared); every member runs on the
// session's strand, where the listener is called too. The child is reaped before `ended` runs;
// one still running when the last reference goes is ended with SIGTERM and reaped.
#pragma once

#include "HostFrame.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class HostProcess : public std::enable_shared_from_this<HostProcess> {
    struct Token {};

public:
    using Executor = boost::asio::strand<boost::asio::io_context::executor_type>;
    struct Listener {
        std::function<void(HostFrame::Kind kind, std::string text)> frame;  // each frame the host sends
        std::function<void()> ended;                                        // once, after the exit
    };

    // Starts the host for pages of `origin`; null, with the reason in `error`, when it cannot.
    static std::shared_ptr<HostProcess> start(const Executor& strand, const std::string& origin, Listener listener,
                                              std::string& error);
    HostProcess(Token, const Executor& strand, Listener listener);
    ~HostProcess();

    void send(HostFrame::Kind kind, const std::string& text = "");
    // Closes the host's input once what was sent has been written: it stops its queue and ends.
    void closeInput();

private:
    void readLength();
    void readBody(uint32_t length);
    void writeNext();
    void onOutputEnded();
    void reap();

    Listener listener;
    pid_t pid = -1;
    boost::asio::posix::stream_descriptor input;   // the host's standard input
    boost::asio::posix::stream_descriptor output;  // the host's standard output
    boost::asio::steady_timer reapTimer;
    uint32_t length = 0;
    std::string body;
    std::deque<std::string> unwritten;
    bool writing = false;
    bool closeWhenWritten = false;
    bool reaped = false;
    int reapTries = 0;
};
