#include "PageSession.h"

#include "RequestPolicy.h"

#include <boost/asio/post.hpp>

#include <chrono>
#include <cstdio>

namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;

namespace {

void logClose(const std::string& why)
{
    std::fprintf(stderr, "zelvorn serve: page closed: %s\n", why.c_str());
}

}  // namespace

PageSession::PageSession(beast::tcp_stream stream, Hooks session) : socket(std::move(stream)), hooks(std::move(session))
{
}

PageSession::~PageSession()
{
    if (page)
        page->unload();
    hooks.closed(this);
}

void PageSession::start(Request upgrade, std::string origin)
{
    beast::get_lowest_layer(socket).expires_never();
    socket.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    socket.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(beast::http::field::server, "zelvorn"); }));
    socket.read_message_max(RequestPolicy::kMaxMessageBytes);

    const std::weak_ptr<PageSession> weak = shared_from_this();
    PageControl::Callbacks callbacks;
    callbacks.event = [weak](const std::string& event) {
        if (auto self = weak.lock())
            boost::asio::post(self->socket.get_executor(), [self, event] { self->send(event); });
    };
    callbacks.failed = [weak](const std::string& why) {
        if (auto self = weak.lock())
            boost::asio::post(self->socket.get_executor(), [self, why] {
                logClose(why);
                self->closeWith(websocket::close_code::internal_error, why);
            });
    };
    callbacks.ended = hooks.pageEnded;
    page = PageControl::open(std::move(origin), std::move(callbacks));
    hooks.opened(shared_from_this());
    socket.async_accept(upgrade, beast::bind_front_handler(&PageSession::onAccept, shared_from_this()));
}

void PageSession::close()
{
    boost::asio::post(socket.get_executor(), [self = shared_from_this()] {
        self->closeWith(websocket::close_code::going_away, "the server is stopping");
    });
}

void PageSession::onAccept(beast::error_code error)
{
    if (error)
        return;
    accepted = true;
    if (closing) {  // closed before the handshake was over
        closing = false;
        closeWith(closeCode, closeReason);
    }
    readNext();
}

void PageSession::readNext()
{
    socket.async_read(incoming, beast::bind_front_handler(&PageSession::onRead, shared_from_this()));
}

void PageSession::onRead(beast::error_code error, size_t)
{
    if (error == websocket::error::message_too_big)
        logClose("a message longer than " + std::to_string(RequestPolicy::kMaxMessageBytes) + " bytes");
    if (error)
        return;  // the socket has closed: the page unloads with this session
    if (socket.got_binary()) {
        logClose("a binary message");
        closeWith(websocket::close_code::unknown_data, "text messages only");
    } else {
        page->post(beast::buffers_to_string(incoming.data()));
    }
    incoming.consume(incoming.size());
    readNext();
}

void PageSession::send(std::string event)
{
    if (closing)
        return;
    unsentBytes += event.size();
    if (unsentBytes > RequestPolicy::kMaxUnsentBytes) {
        logClose("the page does not read its events");
        closeWith(websocket::close_code::policy_error, "events not read");
        return;
    }
    unsent.push_back(std::move(event));
    if (!writing)
        writeNext();
}

void PageSession::writeNext()
{
    writing = true;
    socket.text(true);
    socket.async_write(boost::asio::buffer(unsent.front()),
                       [self = shared_from_this()](beast::error_code error, size_t) {
                           self->writing = false;
                           self->unsentBytes -= self->unsent.front().size();
                           self->unsent.pop_front();
                           if (!error && !self->unsent.empty() && !self->closing)
                               self->writeNext();
                       });
}

void PageSession::closeWith(websocket::close_code code, const std::string& reason)
{
    if (closing)
        return;
    closing = true;
    if (!accepted) {
        closeCode = code;
        closeReason = reason;
        return;
    }
    // A close frame carries at most 123 bytes of reason.
    socket.async_close(websocket::close_reason(code, reason.substr(0, 123)),
                       [self = shared_from_this()](beast::error_code) { self->closeLimit.cancel(); });
    closeLimit.expires_after(std::chrono::seconds(2));
    closeLimit.async_wait([self = shared_from_this()](beast::error_code error) {
        if (error != boost::asio::error::operation_aborted)
            beast::get_lowest_layer(self->socket).close();
    });
}
