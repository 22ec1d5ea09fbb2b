#include "PageSession.h"

#include "PageFrame.h"
#include "RequestPolicy.h"
#include "Session.h"
#include "SessionTable.h"

#include <boost/asio/post.hpp>

#include <condition_variable>
#include <mutex>

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;

namespace {

// True when the page offers the framed protocol among its subprotocols.
bool asksForFrames(const PageSession::Request& upgrade)
{
    const std::string offered(upgrade[http::field::sec_websocket_protocol]);
    size_t start = 0;
    while (start <= offered.size()) {
        size_t end = offered.find(',', start);
        if (end == std::string::npos)
            end = offered.size();
        const size_t first = offered.find_first_not_of(" \t", start);
        const size_t last = offered.find_last_not_of(" \t", end == 0 ? 0 : end - 1);
        if (first < end && last != std::string::npos && last >= first &&
            offered.compare(first, last - first + 1, PageFrame::kProtocol) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// The value of `name` in the target's query ("" when absent); keys and page ids need no decoding.
std::string queryValue(const std::string& target, const std::string& name)
{
    const size_t query = target.find('?');
    if (query == std::string::npos)
        return "";
    size_t start = query + 1;
    while (start < target.size()) {
        size_t end = target.find('&', start);
        if (end == std::string::npos)
            end = target.size();
        if (target.compare(start, name.size() + 1, name + "=") == 0)
            return target.substr(start + name.size() + 1, end - start - name.size() - 1);
        start = end + 1;
    }
    return "";
}

// The pages whose socket is open, of every server of the process.
struct OpenPages {
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;  // guarded by lock
};

OpenPages& openPages()
{
    static OpenPages* pages = new OpenPages();  // sessions may end while the process exits
    return *pages;
}

}  // namespace

PageSession::PageSession(beast::tcp_stream stream, RateLimitedLog& refusals) : socket(std::move(stream)), log(refusals)
{
    std::lock_guard<std::mutex> guard(openPages().lock);
    ++openPages().count;
}

PageSession::~PageSession()
{
    leave();
    OpenPages& pages = openPages();
    std::lock_guard<std::mutex> guard(pages.lock);
    if (--pages.count == 0)
        pages.changed.notify_all();
}

bool PageSession::waitAllClosed(std::chrono::steady_clock::time_point deadline)
{
    OpenPages& pages = openPages();
    std::unique_lock<std::mutex> guard(pages.lock);
    return pages.changed.wait_until(guard, deadline, [&] { return pages.count == 0; });
}

void PageSession::start(Request upgrade, std::shared_ptr<SessionTable> sessions, std::string origin)
{
    pageOrigin = std::move(origin);
    table = std::move(sessions);
    const std::string target(upgrade.target());
    key = queryValue(target, "session");
    pageId = queryValue(target, "page").substr(0, 64);
    accept(std::move(upgrade));
}

void PageSession::refuse(Request upgrade, uint16_t code, std::string reason)
{
    closing = true;
    closeCode = code;
    closeReason = std::move(reason);
    accept(std::move(upgrade));
}

void PageSession::hold(Request upgrade)
{
    held = true;
    accept(std::move(upgrade));
}

void PageSession::accept(Request upgrade)
{
    framed = asksForFrames(upgrade);
    beast::get_lowest_layer(socket).expires_never();
    socket.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    socket.set_option(websocket::stream_base::decorator([framed = framed](websocket::response_type& response) {
        response.set(http::field::server, "zelvorn");
        // A browser that offered subprotocols fails a handshake that picks none, also a refusal's.
        if (framed)
            response.set(http::field::sec_websocket_protocol, PageFrame::kProtocol);
    }));
    socket.read_message_max(RequestPolicy::kMaxMessageBytes);
    socket.async_accept(upgrade, beast::bind_front_handler(&PageSession::onAccept, shared_from_this()));
}

void PageSession::onAccept(beast::error_code error)
{
    if (error)
        return;
    accepted = true;
    if (closing) {  // refused, or closed before the handshake was over
        closing = false;
        closeWith(closeCode, closeReason);
        return;
    }
    if (held)
        return readNext();
    std::string refusal;
    bool full = false;
    auto sessions = std::move(table);
    session = sessions->attach(shared_from_this(), framed, key, pageOrigin, pageId, refusal, full);
    if (!session) {
        log.line("page refused: " + refusal);
        closeWith(full ? kFull : kInternalError, refusal);
        return;
    }
    readNext();
}

void PageSession::bind(std::shared_ptr<Session> attached)
{
    boost::asio::post(socket.get_executor(), [self = shared_from_this(), attached = std::move(attached)] {
        if (self->session && self->session != attached)
            self->session->detach(self.get());
        self->session = attached;
    });
}

void PageSession::send(EventOutbox::Text text)
{
    boost::asio::post(socket.get_executor(),
                      [self = shared_from_this(), text = std::move(text)] { self->queue(std::move(text)); });
}

void PageSession::send(std::string text)
{
    send(std::make_shared<const std::string>(std::move(text)));
}

void PageSession::close(uint16_t code, std::string reason)
{
    boost::asio::post(socket.get_executor(),
                      [self = shared_from_this(), code, reason = std::move(reason)] { self->closeWith(code, reason); });
}

void PageSession::readNext()
{
    socket.async_read(incoming, beast::bind_front_handler(&PageSession::onRead, shared_from_this()));
}

void PageSession::onRead(beast::error_code error, size_t)
{
    if (error == websocket::error::message_too_big)
        log.line("page closed: a message longer than " + std::to_string(RequestPolicy::kMaxMessageBytes) + " bytes");
    if (error) {
        leave();  // the socket has closed: the page has gone from its session
        return;
    }
    if (socket.got_binary()) {
        log.line("page closed: a binary message");
        closeWith(static_cast<uint16_t>(websocket::close_code::unknown_data), "text messages only");
    } else {
        onMessage(beast::buffers_to_string(incoming.data()));
    }
    incoming.consume(incoming.size());
    readNext();
}

void PageSession::onMessage(std::string message)
{
    if (!session || closing)
        return;
    if (!framed)
        return session->command(this, 0, std::move(message));
    PageFrame::Kind kind;
    uint64_t number = 0;
    std::string text;
    if (!PageFrame::parse(message, kind, number, text)) {
        log.line("page closed: a message that is not of the " + std::string(PageFrame::kProtocol) + " protocol");
        return closeWith(kPolicy, std::string("not a message of the ") + PageFrame::kProtocol + " protocol");
    }
    if (kind == PageFrame::Kind::command)
        session->command(this, number, std::move(text));
    else if (kind == PageFrame::Kind::acknowledged)
        session->acknowledge(this, number);
    else
        session->pong(this, number);
}

void PageSession::queue(EventOutbox::Text text)
{
    if (closing || !accepted)
        return;
    unsentBytes += text->size();
    if (unsentBytes > RequestPolicy::kMaxUnsentBytes) {
        log.line("page closed: the page does not read its events");
        closeWith(kPolicy, "events not read");
        return;
    }
    unsent.push_back(std::move(text));
    if (!writing)
        writeNext();
}

void PageSession::writeNext()
{
    writing = true;
    socket.text(true);
    socket.async_write(boost::asio::buffer(*unsent.front()),
                       [self = shared_from_this()](beast::error_code error, size_t) {
                           self->writing = false;
                           self->unsentBytes -= self->unsent.front()->size();
                           self->unsent.pop_front();
                           if (!error && !self->unsent.empty() && !self->closing)
                               self->writeNext();
                       });
}

void PageSession::closeWith(uint16_t code, const std::string& reason)
{
    if (closing)
        return;
    closing = true;
    if (!accepted) {
        closeCode = code;
        closeReason = reason;
        return;
    }
    leave();
    // A close frame carries at most 123 bytes of reason.
    socket.async_close(websocket::close_reason(static_cast<websocket::close_code>(code), reason.substr(0, 123)),
                       [self = shared_from_this()](beast::error_code) { self->closeLimit.cancel(); });
    closeLimit.expires_after(std::chrono::seconds(2));
    closeLimit.async_wait([self = shared_from_this()](beast::error_code error) {
        if (error != boost::asio::error::operation_aborted)
            beast::get_lowest_layer(self->socket).close();
    });
}

void PageSession::leave()
{
    if (session)
        session->detach(this);
    session.reset();
}
