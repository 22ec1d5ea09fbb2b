#include "PageClient.h"

#include <boost/asio/connect.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <sys/socket.h>
#include <unistd.h>

namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;

PageClient::PageClient(uint16_t port, const std::string& origin, const std::string& host, const std::string& target,
                       const std::string& protocol)
{
    const boost::asio::ip::tcp::endpoint server(boost::asio::ip::address_v4::loopback(), port);
    socket.next_layer().connect(server);
    socket.next_layer().set_option(boost::asio::ip::tcp::no_delay(true));  // as browsers do
    watchedSocket = ::dup(socket.next_layer().native_handle());
    watchdog = std::thread([this] { watch(); });
    socket.set_option(websocket::stream_base::decorator([origin, protocol](websocket::request_type& request) {
        if (!origin.empty())
            request.set(beast::http::field::origin, origin);
        if (!protocol.empty())
            request.set(beast::http::field::sec_websocket_protocol, protocol);
    }));
    beast::error_code error;
    watchWait(true);
    socket.handshake(host.empty() ? "127.0.0.1:" + std::to_string(port) : host, target, error);
    watchWait(false);
    upgraded = !error;
}

PageClient::~PageClient()
{
    {
        std::lock_guard<std::mutex> guard(watchLock);
        ending = true;
        watchChanged.notify_all();
    }
    watchdog.join();
    ::close(watchedSocket);
}

void PageClient::watch()
{
    std::unique_lock<std::mutex> guard(watchLock);
    while (!ending) {
        if (!readDeadline) {
            watchChanged.wait(guard);
        } else if (std::chrono::steady_clock::now() >= *readDeadline) {
            ::shutdown(watchedSocket, SHUT_RDWR);
            expired = true;
            readDeadline.reset();
        } else {
            watchChanged.wait_until(guard, *readDeadline);
        }
    }
}

void PageClient::watchWait(bool waiting)
{
    std::lock_guard<std::mutex> guard(watchLock);
    if (waiting)
        readDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    else
        readDeadline.reset();
    watchChanged.notify_all();
}

bool PageClient::timedOut() const
{
    std::lock_guard<std::mutex> guard(watchLock);
    return expired;
}

void PageClient::send(const std::string& text)
{
    socket.text(true);
    socket.write(boost::asio::buffer(text));
}

void PageClient::sendBinary(const std::string& bytes)
{
    socket.binary(true);
    socket.write(boost::asio::buffer(bytes));
}

std::optional<std::string> PageClient::read()
{
    beast::flat_buffer buffer;
    beast::error_code error;
    watchWait(true);
    socket.read(buffer, error);
    watchWait(false);
    if (error)
        return std::nullopt;
    return beast::buffers_to_string(buffer.data());
}

std::optional<std::string> PageClient::readUntil(const std::string& name)
{
    const std::string wanted = "\"name\":\"" + name + "\"";
    for (;;) {
        auto event = read();
        if (!event || event->find(wanted) != std::string::npos)
            return event;
    }
}

int PageClient::closeCode() const
{
    return static_cast<int>(socket.reason().code);
}

std::string PageClient::closeReason() const
{
    return std::string(socket.reason().reason.data(), socket.reason().reason.size());
}

void PageClient::close()
{
    beast::error_code ignored;
    socket.close(websocket::close_code::going_away, ignored);
}

void PageClient::drop()
{
    beast::error_code ignored;
    socket.next_layer().close(ignored);
}
