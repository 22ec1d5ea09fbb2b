// PageServer: `zelvorn serve`'s server. It listens on 127.0.0.1 only, serves the files of web/
// and attaches every page that opens the WebSocket "/control" to a session of its tab
// (HttpConnection, PageSession, SessionTable), each with a control of its own in a host process
// of its own. Its sockets run on a small pool of threads. Every second it reads the settings
// files again and ends the sessions of origins no longer allowed; pages of origins not yet known
// may ask the user (AccessPrompt).
//
// Owned by the serve command for the life of the process; start(), stopDownloads() and stop()
// are called from that command's thread. The pool's threads use the server until stop() has
// returned.
#pragma once

#include "AccessPrompt.h"
#include "RateLimitedLog.h"
#include "RequestPolicy.h"
#include "SessionTable.h"
#include "StaticFiles.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class PageServer {
public:
    struct Options {
        uint16_t port = 0;  // 0: a free port of the system's choice
        std::vector<std::string> allowedOrigins;
        std::filesystem::path webRoot;
        size_t sessionLimit = SessionTable::kDefaultLimit;
        Session::Timing timing;
    };

    explicit PageServer(Options options);
    ~PageServer();

    // Binds and starts serving; false with the reason in `error`.
    bool start(std::string& error);
    // The port it listens on, once started.
    uint16_t port() const { return listening; }
    // Stops every session's downloads, so that their pages hear how their tasks ended, and ends
    // the sessions; waits (up to `patience`) until their hosts have exited. False when some
    // still run then.
    bool stopDownloads(std::chrono::milliseconds patience);
    // Stops listening, ends every session and closes every page.
    void stop();

private:
    void acceptNext();
    void acceptLater();
    void watchOrigins();

    const Options options;
    const StaticFiles files;
    RateLimitedLog log;
    AccessPrompt prompt;
    std::optional<RequestPolicy> policy;  // set by start() before the first accept
    boost::asio::io_context context;
    const std::shared_ptr<SessionTable> sessions;
    const boost::asio::strand<boost::asio::io_context::executor_type> acceptStrand{boost::asio::make_strand(context)};
    boost::asio::ip::tcp::acceptor acceptor{acceptStrand};  // its strand only, once started
    boost::asio::steady_timer acceptPause{acceptStrand};    // its strand only
    std::chrono::milliseconds pause{0};                     // its strand only: after running out of descriptors
    boost::asio::steady_timer originWatch{acceptStrand};    // its strand only
    std::vector<std::thread> pool;
    uint16_t listening = 0;
};
