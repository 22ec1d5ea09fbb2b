// PageSession: one page connected to `zelvorn serve` over a WebSocket, attached to a session of
// the SessionTable. A page that asks for the subprotocol "zelvorn.1" speaks the framed protocol
// (PageFrame): its tab's session key and its page id come in the query of "/control"
// ("?session=KEY&page=ID"), its commands and the session's events are numbered and acknowledged,
// and it sends its commands once the session's hello has come. Any other page speaks the plain
// protocol: each text message is one postMessage text of a session of its own, each event comes
// back as one text message.
//
// A refused page is told why: its WebSocket is accepted and closed at once with a code and a
// reason, since a refused handshake reaches a page's script only as 1006.
//
// Owned by its pending socket operations (shared); every socket operation runs on the
// connection's strand, where the sessions' sends and closes are posted. Limits: a message above
// RequestPolicy::kMaxMessageBytes closes the socket with 1009, a binary one with 1003; a page that
// leaves more than kMaxUnsentBytes of events unread is dropped. A page that does not answer a
// close within 2 s is cut off.
#pragma once

#include "EventOutbox.h"
#include "RateLimitedLog.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class Session;
class SessionTable;

class PageSession : public std::enable_shared_from_this<PageSession> {
public:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;

    // Close codes, beside the standard ones: what zelvorn.js does next depends on them.
    static constexpr uint16_t kNormal = 1000;  // "/access": the origin is allowed
    static constexpr uint16_t kGoingAway = 1001;
    static constexpr uint16_t kPolicy = 1008;         // refused for good (origin not allowed)
    static constexpr uint16_t kInternalError = 1011;  // no control; tried again later
    static constexpr uint16_t kTakenOver = 4000;      // another page of the tab has the session: not tried again
    static constexpr uint16_t kSessionEnded = 4001;   // connect again at once
    static constexpr uint16_t kFull = 4029;           // too many sessions: tried again with growing pauses

    PageSession(boost::beast::tcp_stream stream, RateLimitedLog& log);
    ~PageSession();

    // Completes the handshake of `upgrade` (already checked) and attaches the page of `origin` to
    // its session.
    void start(Request upgrade, std::shared_ptr<SessionTable> sessions, std::string origin);
    // Completes the handshake of `upgrade` and closes at once with `code` and `reason`.
    void refuse(Request upgrade, uint16_t code, std::string reason);
    // Completes the handshake of `upgrade` and keeps the socket open, attached to no session and
    // ignoring what the page sends, until close().
    void hold(Request upgrade);

    // From its session; any thread. bind() comes before the session's first send.
    void bind(std::shared_ptr<Session> session);
    void send(EventOutbox::Text text);
    void send(std::string text);
    void close(uint16_t code, std::string reason);

    const std::string& origin() const { return pageOrigin; }
    // Waits until no page of any server of the process has its socket open, or until `deadline`;
    // false when some still have. Any thread but the servers' own.
    static bool waitAllClosed(std::chrono::steady_clock::time_point deadline);

private:
    void accept(Request upgrade);
    void onAccept(boost::beast::error_code error);
    void readNext();
    void onRead(boost::beast::error_code error, size_t bytes);
    void onMessage(std::string message);
    // Strand only.
    void queue(EventOutbox::Text text);
    void writeNext();
    void closeWith(uint16_t code, const std::string& reason);
    void leave();

    boost::beast::websocket::stream<boost::beast::tcp_stream> socket;
    boost::asio::steady_timer closeLimit{socket.get_executor()};
    RateLimitedLog& log;
    std::string pageOrigin;  // set before the handshake
    bool framed = false;     // set before the handshake
    bool held = false;       // set before the handshake

    // Strand only.
    std::shared_ptr<SessionTable> table;  // until the page is attached
    std::string key, pageId;              // from the query, until the page is attached
    std::shared_ptr<Session> session;     // the session the page is attached to
    boost::beast::flat_buffer incoming;
    std::deque<EventOutbox::Text> unsent;
    size_t unsentBytes = 0;
    bool writing = false;
    bool accepted = false;  // the handshake is over
    bool closing = false;
    uint16_t closeCode = 0;  // a close asked for before `accepted`
    std::string closeReason;
};
