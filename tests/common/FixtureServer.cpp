#include "common/FixtureServer.h"

#include "common/TempFolder.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/stream_traits.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

std::string FixtureRequest::header(const std::string& name) const
{
    for (const auto& field : headers)
        if (boost::iequals(field.first, name))
            return field.second;
    return std::string();
}

bool FixtureRequest::hasHeader(const std::string& name) const
{
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& field) { return boost::iequals(field.first, name); });
}

FixtureResponse FixtureResponse::file(const std::string& body)
{
    FixtureResponse response;
    response.headers.emplace_back("Content-Type", "application/octet-stream");
    response.body = body;
    return response;
}

FixtureResponse& FixtureResponse::header(const std::string& name, const std::string& value)
{
    headers.emplace_back(name, value);
    return *this;
}

FixtureServer::Handler FixtureServer::rangedFile(const std::string& body)
{
    return [body](const FixtureRequest& request) {
        static const std::regex pattern(R"(bytes=(\d+)-(\d*))");
        const std::string range = request.header("Range");
        std::smatch m;
        if (!std::regex_match(range, m, pattern))
            return FixtureResponse::file(body);
        const size_t first = std::stoull(m[1]);
        const size_t last = std::min<size_t>(m[2].length() ? std::stoull(m[2]) : body.size() - 1, body.size() - 1);
        FixtureResponse response = FixtureResponse::file(body.substr(first, last - first + 1));
        response.status = 206;
        response.header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                             std::to_string(body.size()));
        return response;
    };
}

struct FixtureServer::Impl {
    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::ssl::context tls{asio::ssl::context::tls_server};
    std::unique_ptr<TempFolder> certificateDir;
    std::vector<int> queueFillers;  // Mode::neverAccepts: the connections filling the queue

    ~Impl()
    {
        for (int fd : queueFillers)
            ::close(fd);
    }
};

FixtureServer::FixtureServer(Mode serverMode) : mode(serverMode), impl(new Impl)
{
    if (mode == Mode::https) {
        impl->certificateDir.reset(new TempFolder);
        const TempFolder& dir = *impl->certificateDir;
        const std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=fixture"
            " -keyout " +
            dir.file("key.pem") + " -out " + dir.file("cert.pem") + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("openssl could not make a certificate");
        impl->tls.use_certificate_chain_file(dir.file("cert.pem"));
        impl->tls.use_private_key_file(dir.file("key.pem"), asio::ssl::context::pem);
    }

    const tcp::endpoint local(asio::ip::make_address("127.0.0.1"), 0);
    impl->acceptor.open(local.protocol());
    impl->acceptor.bind(local);
    if (mode == Mode::neverAccepts) {
        // Backlog 0 holds one pending connection; with it taken, the kernel drops further SYNs.
        impl->acceptor.listen(0);
        listenPort = impl->acceptor.local_endpoint().port();
        for (int i = 0; i < 3; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            const auto address = impl->acceptor.local_endpoint();
            ::connect(filler, address.data(), static_cast<socklen_t>(address.size()));  // completes, or stays pending
            impl->queueFillers.push_back(filler);
        }
        return;
    }
    impl->acceptor.listen();
    listenPort = impl->acceptor.local_endpoint().port();
    acceptThread = std::thread([this] { acceptLoop(); });
}

FixtureServer::~FixtureServer()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        stopped.notify_all();
    }
    // shutdown() on the listening socket makes the blocked accept() return.
    ::shutdown(impl->acceptor.native_handle(), SHUT_RDWR);
    if (acceptThread.joinable())
        acceptThread.join();
    {
        std::lock_guard<std::mutex> guard(lock);
        for (int fd : openSockets)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& thread : connectionThreads)
        thread.join();
}

void FixtureServer::on(const std::string& path, Handler handler)
{
    std::lock_guard<std::mutex> guard(lock);
    handlers[path] = std::move(handler);
}

void FixtureServer::on(const std::string& path, const FixtureResponse& response)
{
    on(path, [response](const FixtureRequest&) { return response; });
}

std::string FixtureServer::url(const std::string& target) const
{
    return std::string(mode == Mode::https ? "https" : "http") + "://127.0.0.1:" + std::to_string(listenPort) + target;
}

std::vector<FixtureRequest> FixtureServer::requests() const
{
    std::lock_guard<std::mutex> guard(lock);
    return received;
}

void FixtureServer::acceptLoop()
{
    for (;;) {
        tcp::socket socket(impl->io);
        boost::system::error_code error;
        impl->acceptor.accept(socket, error);
        std::lock_guard<std::mutex> guard(lock);
        if (stopping)
            return;
        if (error)
            continue;
        const int fd = socket.release();
        openSockets.insert(fd);
        peak = std::max(peak.load(), ++active);
        connectionThreads.emplace_back([this, fd] { serveConnection(fd); });
    }
}

void FixtureServer::serveConnection(int fd)
{
    tcp::socket socket(impl->io, tcp::v4(), fd);
    // As real servers do: an answer's head and body go out at once, also on a connection the
    // client keeps (Nagle's wait for the client's delayed acknowledgement costs 40 ms a request).
    boost::system::error_code ignoredOption;
    socket.set_option(tcp::no_delay(true), ignoredOption);
    if (mode == Mode::silent) {
        stallUntilStopped();
    } else if (mode == Mode::https) {
        asio::ssl::stream<tcp::socket&> tls(socket, impl->tls);
        boost::system::error_code error;
        tls.handshake(asio::ssl::stream_base::server, error);
        if (!error)
            serveRequests(tls);
    } else {
        serveRequests(socket);
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        openSockets.erase(fd);  // before close: the destructor never shuts down a reused number
    }
    boost::system::error_code ignored;
    socket.close(ignored);
    --active;
}

template <class Stream>
void FixtureServer::serveRequests(Stream& stream)
{
    boost::beast::flat_buffer buffer;
    for (;;) {
        http::request<http::string_body> message;
        boost::system::error_code error;
        http::read(stream, buffer, message, error);
        if (error)
            return;
        FixtureRequest request;
        request.method = std::string(message.method_string());
        request.target = std::string(message.target());
        for (const auto& field : message.base())
            request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        {
            std::lock_guard<std::mutex> guard(lock);
            received.push_back(request);
        }
        if (!respond(stream, handlerFor(request.target)(request)))
            return;
    }
}

template <class Stream>
bool FixtureServer::respond(Stream& stream, const FixtureResponse& response)
{
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       std::string(http::obsolete_reason(http::int_to_status(response.status))) + "\r\n";
    for (const auto& field : response.headers)
        head += field.first + ": " + field.second + "\r\n";
    if (response.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (response.contentLength)
        head += "Content-Length: " +
                std::to_string(response.declaredLength >= 0 ? response.declaredLength
                                                            : static_cast<int64_t>(response.body.size())) +
                "\r\n";
    head += "\r\n";

    boost::system::error_code error;
    if (response.noAnswer)
        return false;
    if (response.stall == FixtureResponse::Stall::beforeHeaders) {
        stallUntilStopped();
        return false;
    }
    asio::write(stream, asio::buffer(head), error);
    if (response.stall == FixtureResponse::Stall::afterHeaders) {
        stallUntilStopped();
        return false;
    }

    // A view, not a copy: a body of many MiB would hold up the answer, which a client's stall
    // limit would then count as the server's silence.
    const std::string_view body = std::string_view(response.body).substr(0, response.cutAfter);
    if (response.chunked) {
        for (size_t at = 0; at < body.size() && !error; at += 1000) {
            const std::string chunk(body.substr(at, 1000));
            char size[32];
            snprintf(size, sizeof size, "%zx\r\n", chunk.size());
            asio::write(stream, asio::buffer(size + chunk + "\r\n"), error);
        }
        if (body.size() == response.body.size())
            asio::write(stream, asio::buffer(std::string("0\r\n\r\n")), error);
    } else if (response.drip.count() > 0) {
        for (size_t at = 0; at < body.size() && !error; ++at) {
            if (!sleepUnlessStopped(response.drip))
                return false;
            asio::write(stream, asio::buffer(body.data() + at, 1), error);
        }
    } else if (response.paused && response.pauseAfter < body.size()) {
        asio::write(stream, asio::buffer(body.data(), response.pauseAfter), error);
        response.paused();
        asio::write(stream, asio::buffer(body.data() + response.pauseAfter, body.size() - response.pauseAfter), error);
    } else {
        asio::write(stream, asio::buffer(body.data(), body.size()), error);
    }
    if (body.size() < response.body.size() && response.resetOnCut)
        boost::beast::get_lowest_layer(stream).set_option(asio::socket_base::linger(true, 0), error);
    // A connection whose body falls short of its Content-Length cannot carry another answer.
    const bool declaredAll = response.declaredLength < 0 || response.declaredLength == int64_t(body.size());
    return !error && body.size() == response.body.size() && declaredAll;
}

bool FixtureServer::sleepUnlessStopped(std::chrono::milliseconds interval)
{
    std::unique_lock<std::mutex> guard(lock);
    return !stopped.wait_for(guard, interval, [this] { return stopping; });
}

void FixtureServer::stallUntilStopped()
{
    std::unique_lock<std::mutex> guard(lock);
    stopped.wait(guard, [this] { return stopping; });
}

FixtureServer::Handler FixtureServer::handlerFor(const std::string& target) const
{
    std::lock_guard<std::mutex> guard(lock);
    const auto found = handlers.find(target.substr(0, target.find('?')));
    if (found != handlers.end())
        return found->second;
    return [](const FixtureRequest&) {
        FixtureResponse missing = FixtureResponse::file("not found");
        missing.status = 404;
        return missing;
    };
}
