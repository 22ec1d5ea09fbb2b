#include "HttpConnection.h"

#include <boost/asio/dispatch.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <chrono>

namespace beast = boost::beast;
namespace http = boost::beast::http;

namespace {

// A client that sends nothing for this long is let go.
constexpr std::chrono::seconds kIdleLimit{30};

}  // namespace

HttpConnection::HttpConnection(boost::asio::ip::tcp::socket socket, const RequestPolicy& rules, const StaticFiles& web,
                               std::shared_ptr<SessionTable> table, AccessPrompt& asker, RateLimitedLog& refusals)
    : stream(std::move(socket)), policy(rules), files(web), sessions(std::move(table)), prompt(asker), log(refusals)
{
}

void HttpConnection::start()
{
    boost::asio::dispatch(stream.get_executor(),
                          beast::bind_front_handler(&HttpConnection::readNext, shared_from_this()));
}

void HttpConnection::readNext()
{
    parser.emplace();
    parser->header_limit(RequestPolicy::kMaxHeaderBytes);
    parser->body_limit(RequestPolicy::kMaxRequestBodyBytes);
    stream.expires_after(kIdleLimit);
    http::async_read(stream, buffer, *parser, beast::bind_front_handler(&HttpConnection::onRead, shared_from_this()));
}

void HttpConnection::onRead(beast::error_code error, size_t)
{
    if (error == http::error::header_limit || error == http::error::body_limit) {
        PageSession::Request request;
        refuse(request,
               error == http::error::header_limit ? http::status::request_header_fields_too_large
                                                  : http::status::payload_too_large,
               error.message());
        return;
    }
    if (error)
        return;  // closed, timed out or not HTTP: the connection ends
    handle(parser->release());
}

void HttpConnection::handle(PageSession::Request request)
{
    const std::string hostProblem = policy.checkHost(std::string(request[http::field::host]));
    if (!hostProblem.empty())
        return refuse(request, http::status::forbidden, hostProblem);

    const std::string target(request.target());
    if (beast::websocket::is_upgrade(request)) {
        const std::string path = target.substr(0, target.find('?'));
        if (path == "/access")
            return askForAccess(std::move(request));
        if (path != "/control")
            return refuse(request, http::status::not_found, "no WebSocket endpoint here; the control is at /control");
        std::string origin(request[http::field::origin]);
        std::string originProblem;
        policy.checkOrigin(origin, originProblem);
        stream.expires_never();
        auto page = std::make_shared<PageSession>(std::move(stream), log);
        if (!originProblem.empty()) {
            log.line("refused GET /control: " + originProblem);
            return page->refuse(std::move(request), PageSession::kPolicy, originProblem);
        }
        return page->start(std::move(request), sessions, std::move(origin));
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head)
        return refuse(request, http::status::method_not_allowed, "only GET and HEAD are served");
    const auto path = files.find(target);
    beast::error_code error;
    http::file_body::value_type body;
    if (!path.empty())
        body.open(path.c_str(), beast::file_mode::scan, error);
    if (path.empty() || error)
        return refuse(request, http::status::not_found, "no such file");

    const auto describe = [&](auto& response) {
        response.set(http::field::server, "zelvorn");
        response.set(http::field::content_type, StaticFiles::contentType(path));
        response.set(http::field::cache_control, "no-cache");
        response.set("X-Content-Type-Options", "nosniff");
        response.set("X-Frame-Options", "DENY");
        response.set("Content-Security-Policy", "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
        response.keep_alive(request.keep_alive());
    };
    if (request.method() == http::verb::head) {
        auto response = std::make_shared<http::response<http::empty_body>>(http::status::ok, request.version());
        describe(*response);
        response->content_length(body.size());
        return reply(response);
    }
    auto response = std::make_shared<http::response<http::file_body>>(http::status::ok, request.version());
    describe(*response);
    response->body() = std::move(body);
    response->prepare_payload();
    reply(response);
}

void HttpConnection::askForAccess(PageSession::Request request)
{
    const std::string origin(request[http::field::origin]);
    std::string why;
    const RequestPolicy::Access access = policy.checkOrigin(origin, why);
    if (access == RequestPolicy::Access::unknown)
        why = RequestPolicy::whyNotAskable(origin);
    stream.expires_never();
    auto page = std::make_shared<PageSession>(std::move(stream), log);
    if (access == RequestPolicy::Access::allowed)
        return page->refuse(std::move(request), PageSession::kNormal, "allowed");
    if (!why.empty()) {
        log.line("refused GET /access: " + why);
        return page->refuse(std::move(request), PageSession::kPolicy, why);
    }
    page->hold(std::move(request));
    prompt.ask(origin, [page, origin, &log = log](bool allowed, const std::string& reason) {
        log.line("access for " + origin + ": " + (allowed ? "allowed by the user" : reason));
        page->close(allowed ? PageSession::kNormal : PageSession::kPolicy, allowed ? "allowed" : reason);
    });
}

void HttpConnection::refuse(const PageSession::Request& request, http::status status, const std::string& why)
{
    log.line("refused " + std::string(request.method_string()) + " " + std::string(request.target()).substr(0, 200) +
             ": " + std::to_string(static_cast<int>(status)) + " " + why);
    auto response =
        std::make_shared<http::response<http::string_body>>(status, request.version() ? request.version() : 11);
    response->set(http::field::server, "zelvorn");
    response->set(http::field::content_type, "text/plain; charset=utf-8");
    response->body() = "zelvorn: " + why + "\n";
    response->keep_alive(false);
    response->prepare_payload();
    reply(response);
}

template <class Response>
void HttpConnection::reply(std::shared_ptr<Response> response)
{
    stream.expires_after(kIdleLimit);
    http::async_write(stream, *response, [self = shared_from_this(), response](beast::error_code error, size_t) {
        if (error || !response->keep_alive()) {
            beast::error_code ignored;
            self->stream.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
            return;
        }
        self->readNext();
    });
}
