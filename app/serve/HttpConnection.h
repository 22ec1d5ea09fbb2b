// HttpConnection: one TCP connection to `zelvorn serve` while it speaks HTTP. It checks every
// request against the RequestPolicy, answers GET and HEAD with the files of web/, and hands a
// WebSocket upgrade of "/control" to a new PageSession, which attaches a page of an allowed
// origin to its session and tells any other why it is refused. A WebSocket of "/access" is a
// page asking that its origin be allowed: it is closed with 1000 once the origin is allowed (at
// once when it is already, after the user said yes otherwise: AccessPrompt), else with 1008 and
// why not. A refused request gets a status and a one-line text saying why, and a line on
// standard error (RateLimitedLog).
//
// Owned by its pending socket operations (shared); runs on the connection's strand.
#pragma once

#include "AccessPrompt.h"
#include "PageSession.h"
#include "RateLimitedLog.h"
#include "RequestPolicy.h"
#include "SessionTable.h"
#include "StaticFiles.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <memory>
#include <optional>
#include <string>

class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
public:
    HttpConnection(boost::asio::ip::tcp::socket socket, const RequestPolicy& policy, const StaticFiles& files,
                   std::shared_ptr<SessionTable> sessions, AccessPrompt& prompt, RateLimitedLog& log);
    void start();

private:
    void readNext();
    void onRead(boost::beast::error_code error, size_t bytes);
    void handle(PageSession::Request request);
    void askForAccess(PageSession::Request request);
    void refuse(const PageSession::Request& request, boost::beast::http::status status, const std::string& why);
    template <class Response>
    void reply(std::shared_ptr<Response> response);

    boost::beast::tcp_stream stream;
    const RequestPolicy& policy;
    const StaticFiles& files;
    const std::shared_ptr<SessionTable> sessions;
    AccessPrompt& prompt;
    RateLimitedLog& log;
    boost::beast::flat_buffer buffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser;
};
