// PageSession: one page connected to `zelvorn serve` over a WebSocket. Each text message the
// page sends is one postMessage text for the page's own control (PageControl); each event of
// the control goes back as one text message, in order. When the socket closes the page
// unloads: its control is closed and released, and downloads it started go on.
//
// Owned by its pending socket operations (shared); every socket operation runs on the
// connection's strand. Events arrive on the control's apartment thread and are handed to the
// strand. Limits: a message above RequestPolicy::kMaxMessageBytes closes the socket with 1009
// (too big), a binary message with 1003; a page that leaves more than kMaxUnsentBytes of
// events unread is dropped. A page that does not answer a close within 2 s is cut off.
#pragma once

#include "PageControl.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class PageSession : public std::enable_shared_from_this<PageSession> {
public:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    // What the session tells its server: it began (with itself) and it ended.
    struct Hooks {
        std::function<void(const std::shared_ptr<PageSession>&)> opened;
        std::function<void(PageSession*)> closed;
        std::function<void()> pageEnded;  // the page's control has been released
    };

    PageSession(boost::beast::tcp_stream stream, Hooks hooks);
    ~PageSession();

    // Completes the WebSocket handshake of `upgrade` (already checked) and starts the page of
    // `origin`.
    void start(Request upgrade, std::string origin);
    // Closes the socket ("going away"); any thread.
    void close();
    // The page's control; valid once start() has run.
    PageControl& control() { return *page; }

private:
    void onAccept(boost::beast::error_code error);
    void readNext();
    void onRead(boost::beast::error_code error, size_t bytes);
    // Strand only.
    void send(std::string event);
    void writeNext();
    void closeWith(boost::beast::websocket::close_code code, const std::string& reason);

    boost::beast::websocket::stream<boost::beast::tcp_stream> socket;
    boost::asio::steady_timer closeLimit{socket.get_executor()};  // strand only
    const Hooks hooks;
    std::shared_ptr<PageControl> page;                // made by start()
    boost::beast::flat_buffer incoming;               // strand only
    std::deque<std::string> unsent;                   // strand only: events not yet written
    size_t unsentBytes = 0;                           // strand only
    bool writing = false;                             // strand only
    bool accepted = false;                            // strand only: the handshake is over
    bool closing = false;                             // strand only
    boost::beast::websocket::close_code closeCode{};  // strand only: a close asked for before `accepted`
    std::string closeReason;                          // strand only: with closeCode
};
