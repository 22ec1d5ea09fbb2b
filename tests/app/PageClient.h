// PageClient: a page's side of `zelvorn serve`'s WebSocket for tests: a real socket to
// 127.0.0.1 that asks for "/control" with the Origin (and Host) headers and the subprotocol a
// test chooses, sends messages and reads the control's events. Blocking; every read gives up
// after 30 s.
//
// Owned by one test, used on one thread; a thread of its own watches the reads (asio waits out a
// socket's receive time-out by polling again, so that limit is kept by shutting the socket down).
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class PageClient {
public:
    // Connects and asks for the upgrade; `host` "" sends "127.0.0.1:<port>", `protocol` "" no
    // subprotocol.
    PageClient(uint16_t port, const std::string& origin, const std::string& host = "",
               const std::string& target = "/control", const std::string& protocol = "");
    ~PageClient();
    PageClient(const PageClient&) = delete;
    PageClient& operator=(const PageClient&) = delete;

    // True when the server took the upgrade.
    bool open() const { return upgraded; }

    void send(const std::string& text);
    void sendBinary(const std::string& bytes);
    // The next text message, or nothing once the socket has closed (then closeCode() and
    // closeReason() tell what the server said) or nothing came for 30 s (timedOut(); the socket
    // is shut down then).
    std::optional<std::string> read();
    bool timedOut() const;
    // Reads until an event named `name` arrives; nothing when the socket closes first.
    std::optional<std::string> readUntil(const std::string& name);
    int closeCode() const;
    std::string closeReason() const;
    // Closes as a page that unloads does.
    void close();
    // Drops the connection without a close frame, as a lost network does.
    void drop();

private:
    boost::asio::io_context context;
    boost::beast::websocket::stream<boost::asio::ip::tcp::socket> socket{context};
    bool upgraded = false;

    // Shuts the socket down once a read (or the upgrade) has waited 30 s.
    void watch();
    // Starts or ends the watched wait around a blocking call on the socket.
    void watchWait(bool waiting);
    int watchedSocket = -1;  // a duplicate of the socket's descriptor, so it stays ours to shut down
    mutable std::mutex watchLock;
    std::condition_variable watchChanged;
    std::optional<std::chrono::steady_clock::time_point> readDeadline;  // guarded by watchLock
    bool expired = false;                                               // guarded by watchLock
    bool ending = false;                                                // guarded by watchLock
    std::thread watchdog;
};
