#include "PageServer.h"

#include "HttpConnection.h"

#include <chrono>

namespace {

// Two threads: one page's socket work never waits for another's.
constexpr int kPoolThreads = 2;

}  // namespace

PageServer::PageServer(Options settings) : options(std::move(settings)), files(options.webRoot) {}

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
        if (!error)
            std::make_shared<HttpConnection>(std::move(socket), *policy, files, pageHooks())->start();
        acceptNext();
    });
}

PageSession::Hooks PageServer::pageHooks()
{
    PageSession::Hooks hooks;
    hooks.opened = [pages = pages](const std::shared_ptr<PageSession>& session) {
        std::lock_guard<std::mutex> lock(pages->lock);
        pages->sessions[session.get()] = session;
        ++pages->live;
    };
    hooks.closed = [pages = pages](PageSession* session) {
        std::lock_guard<std::mutex> lock(pages->lock);
        pages->sessions.erase(session);
    };
    hooks.pageEnded = [pages = pages] {
        std::lock_guard<std::mutex> lock(pages->lock);
        --pages->live;
        pages->changed.notify_all();
    };
    return hooks;
}

bool PageServer::stopDownloads(std::chrono::seconds patience)
{
    std::shared_ptr<PageSession> open;
    {
        std::lock_guard<std::mutex> lock(pages->lock);
        for (auto& [key, session] : pages->sessions)
            if ((open = session.lock()))
                break;
    }
    // With no page open, downloads of pages closed before may still run: a control of the
    // server's own stops them.
    std::shared_ptr<PageControl> own;
    if (!open)
        own = PageControl::open("", {[](const std::string&) {}, [](const std::string&) {}, [] {}});
    PageControl& control = open ? open->control() : *own;
    control.stopQueue();
    const auto deadline = std::chrono::steady_clock::now() + patience;
    bool ended = true;
    while (control.busy()) {
        if (std::chrono::steady_clock::now() > deadline) {
            ended = false;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (own)
        own->unload();
    return ended;
}

void PageServer::stop()
{
    if (pool.empty())
        return;
    boost::asio::post(acceptor.get_executor(), [this] { acceptor.close(); });
    std::vector<std::shared_ptr<PageSession>> open;
    {
        std::lock_guard<std::mutex> lock(pages->lock);
        for (auto& [key, session] : pages->sessions)
            if (auto alive = session.lock())
                open.push_back(alive);
    }
    for (auto& session : open)
        session->close();
    open.clear();
    {
        // A page whose command still runs (an open folder dialog) may keep its control longer.
        std::unique_lock<std::mutex> lock(pages->lock);
        pages->changed.wait_for(lock, std::chrono::seconds(10), [&] { return pages->live == 0; });
    }
    context.stop();
    for (auto& thread : pool)
        thread.join();
    pool.clear();
}
