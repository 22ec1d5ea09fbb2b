// PageServer: `zelvorn serve`'s server. It listens on 127.0.0.1 only, serves the files of web/
// and gives every page that opens the WebSocket "/control" a control of its own
// (HttpConnection, PageSession). Its sockets run on a small pool of threads.
//
// Owned by the serve command for the life of the process; start(), stopDownloads() and stop()
// are called from that command's thread. The pool's threads use the server until stop() has
// returned.
#pragma once

#include "PageSession.h"
#include "RequestPolicy.h"
#include "StaticFiles.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
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
    };

    explicit PageServer(Options options);
    ~PageServer();

    // Binds and starts serving; false with the reason in `error`.
    bool start(std::string& error);
    // The port it listens on, once started.
    uint16_t port() const { return listening; }
    // Stops the process's downloads, through an open page's control when there is one, so that
    // the pages hear how their tasks ended; waits (up to `patience`) until they have. False
    // when some still run then.
    bool stopDownloads(std::chrono::seconds patience);
    // Stops listening, closes every page and waits until their controls are released.
    void stop();

private:
    void acceptNext();
    PageSession::Hooks pageHooks();

    const Options options;
    const StaticFiles files;
    std::optional<RequestPolicy> policy;  // set by start() before the first accept
    boost::asio::io_context context;
    boost::asio::ip::tcp::acceptor acceptor{boost::asio::make_strand(context)};  // its strand only, once started
    std::vector<std::thread> pool;
    uint16_t listening = 0;

    // The open pages, shared with their sessions' hooks: a session that ends after the server
    // (its socket work dropped by stop()) still finds them.
    struct Pages {
        std::mutex lock;
        std::condition_variable changed;
        std::map<PageSession*, std::weak_ptr<PageSession>> sessions;  // guarded by lock
        int live = 0;  // guarded by lock: pages whose control is not yet released
    };
    const std::shared_ptr<Pages> pages = std::make_shared<Pages>();
};
