#include "PageServer.h"

#include "HttpConnection.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <chrono>

namespace {

// Two threads: one page's socket work never waits for another's.
constexpr int kPoolThreads = 2;
// Out of file descriptors, the server waits before it accepts again instead of spinning: the
// connection stays in the backlog until a page or a session lets one go.
constexpr std::chrono::milliseconds kFirstPause{50};
constexpr std::chrono::milliseconds kLongestPause{1000};
// How soon a change of the settings files ends the sessions of an origin no longer allowed.
constexpr std::chrono::seconds kOriginWatch{1};

bool outOfDescriptors(const boost::system::error_code& error)
{
    return error == boost::asio::error::no_descriptors || error == boost::asio::error::no_buffer_space ||
           error == boost::asio::error::no_memory || error.value() == ENFILE;
}

}  // namespace

PageServer::PageServer(Options settings)
    : options(std::move(settings)), files(options.webRoot),
      sessions(SessionTable::create(context, options.sessionLimit, options.timing))
{
}

PageServer::~PageServer()
{
    stop();
}

bool PageServer::start(std::string& error)
{
    namespace ip = boost::asio::ip;
    boost::system::error_code failure;
    const ip::tcp::endpoint endpoint(ip::address_v4::loopback(), options.port);
    acceptor.open(endpoint.protocol(), failure);
    if (!failure)
        acceptor.set_option(ip::tcp::acceptor::reuse_address(true), failure);
    if (!failure)
        acceptor.bind(endpoint, failure);
    if (!failure)
        acceptor.listen(boost::asio::socket_base::max_listen_connections, failure);
    if (failure) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(options.port) + ": " + failure.message();
        return false;
    }
    listening = acceptor.local_endpoint().port();
    policy.emplace(listening, options.allowedOrigins);
    acceptNext();
    boost::asio::post(acceptStrand, [this] { watchOrigins(); });
    for (int i = 0; i < kPoolThreads; ++i)
        pool.emplace_back([this] { context.run(); });
    return true;
}

void PageServer::acceptNext()
{
    acceptor.async_accept(boost::asio::make_strand(context), [this](boost::system::error_code error,
                                                                    boost::asio::ip::tcp::socket socket) {
        if (error == boost::asio::error::operation_aborted)
            return;  // stopped
        if (outOfDescriptors(error))
            return acceptLater();
        pause = std::chrono::milliseconds(0);
        if (!error) {
            // Events and acknowledgements are small messages that must not wait for each other.
            boost::system::error_code ignored;
            socket.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
            std::make_shared<HttpConnection>(std::move(socket), *policy, files, sessions, prompt, log)->start();
        }
        acceptNext();
    });
}

void PageServer::acceptLater()
{
    pause = std::min(std::max(pause * 2, kFirstPause), kLongestPause);
    log.line("out of file descriptors; accepting again in " + std::to_string(pause.count()) + " ms");
    acceptPause.expires_after(pause);
    acceptPause.async_wait([this](boost::system::error_code error) {
        if (!error && acceptor.is_open())
            acceptNext();
    });
}

void PageServer::watchOrigins()
{
    const OriginChoices::Reading choices = policy->readChoices();
    sessions->revoke([&](const std::string& origin) -> std::string {
        switch (policy->access(choices, origin)) {
        case RequestPolicy::Access::allowed:
            return "";
        case RequestPolicy::Access::denied:
            log.line("ending the sessions of " + origin + ": the origin is denied now");
            return "origin \"" + origin + "\" is denied now";
        default:
            log.line("ending the sessions of " + origin + ": the origin is no longer allowed");
            return "origin \"" + origin + "\" is no longer allowed";
        }
    });
    originWatch.expires_after(kOriginWatch);
    originWatch.async_wait([this](boost::system::error_code error) {
        if (!error && acceptor.is_open())
            watchOrigins();
    });
}

bool PageServer::stopDownloads(std::chrono::milliseconds patience)
{
    return sessions->endAll(patience);
}

void PageServer::stop()
{
    if (pool.empty())
        return;
    prompt.stop();
    boost::asio::post(acceptStrand, [this] {
        boost::system::error_code ignored;
        acceptor.close(ignored);
        acceptPause.cancel();
        originWatch.cancel();
    });
    sessions->endAll(std::chrono::seconds(10));
    // The pages of the sessions that ended are being told so: a moment for their close frames.
    PageSession::waitAllClosed(std::chrono::steady_clock::now() + std::chrono::seconds(1));
    context.stop();
    for (auto& thread : pool)
        thread.join();
    pool.clear();
}
