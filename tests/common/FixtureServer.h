// FixtureServer: a scriptable HTTP/HTTPS server on 127.0.0.1 for the transfer tests.
//
// Owned by one test; listens on a free port from construction to destruction. It accepts on its
// own thread and serves each connection on a thread of its own; the destructor ends every one of
// them (stalled ones included) and joins them. Tests script answers per path with on() before
// they send requests, and read what arrived with requests() and the connection counters.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct FixtureRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::vector<std::pair<std::string, std::string>> headers;

    // Value of the first header named `name` (case-insensitive); "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

struct FixtureResponse {
    enum class Stall { none, beforeHeaders, afterHeaders };

    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;  // sent as given, in this order
    std::string body;
    bool contentLength = true;              // add "Content-Length" (the body size, or declaredLength)
    int64_t declaredLength = -1;            // a Content-Length to claim instead of the body size
    bool chunked = false;                   // chunked transfer coding instead of Content-Length
    size_t cutAfter = std::string::npos;    // close the connection after this many body bytes
    bool resetOnCut = false;                // ... abortively: the client sees a reset, not an end of file
    Stall stall = Stall::none;              // go silent (until the server stops) at that point
    std::chrono::milliseconds drip{0};      // send the body one byte per this interval
    size_t pauseAfter = std::string::npos;  // after this many body bytes, call `paused` ...
    std::function<void()> paused;           // ... on the connection thread, then send the rest
    bool noAnswer = false;                  // close the connection without a byte of response

    // A 200 with Content-Type "application/octet-stream" and the body.
    static FixtureResponse file(const std::string& body);
    FixtureResponse& header(const std::string& name, const std::string& value);
};

class FixtureServer {
public:
    enum class Mode {
        http,
        https,        // TLS with a self-signed certificate made for this server
        silent,       // accepts connections and never reads or answers
        neverAccepts  // a full accept queue: connects to it do not complete
    };
    using Handler = std::function<FixtureResponse(const FixtureRequest&)>;

    explicit FixtureServer(Mode mode = Mode::http);
    ~FixtureServer();
    FixtureServer(const FixtureServer&) = delete;
    FixtureServer& operator=(const FixtureServer&) = delete;

    // A handler that serves `body` as a server honouring Range does: 206 with Content-Range for
    // "bytes=first-" and "bytes=first-last", 200 with the whole body otherwise.
    static Handler rangedFile(const std::string& body);

    // Answers requests whose path (query left out) is `path`. Unscripted paths get a 404.
    // Handlers run on connection threads, several at once, without the server's lock held: they
    // may read the server but must guard whatever else they touch.
    void on(const std::string& path, Handler handler);
    void on(const std::string& path, const FixtureResponse& response);

    uint16_t port() const { return listenPort; }
    // "http://127.0.0.1:<port>" (or https) followed by `target`.
    std::string url(const std::string& target) const;

    std::vector<FixtureRequest> requests() const;
    int activeConnections() const { return active.load(); }
    int peakConnections() const { return peak.load(); }

private:
    struct Impl;

    void acceptLoop();
    void serveConnection(int fd);
    template <class Stream>
    void serveRequests(Stream& stream);
    // Writes one response; false when the connection must be closed afterwards.
    template <class Stream>
    bool respond(Stream& stream, const FixtureResponse& response);
    // Blocks until the server stops.
    void stallUntilStopped();
    // Waits `interval`; false when the server stopped meanwhile.
    bool sleepUnlessStopped(std::chrono::milliseconds interval);
    Handler handlerFor(const std::string& target) const;

    const Mode mode;
    std::unique_ptr<Impl> impl;
    uint16_t listenPort = 0;

    mutable std::mutex lock;  // guards everything below up to the threads
    std::condition_variable stopped;
    bool stopping = false;
    std::map<std::string, Handler> handlers;
    std::vector<FixtureRequest> received;
    std::set<int> openSockets;
    std::vector<std::thread> connectionThreads;

    std::atomic<int> active{0};
    std::atomic<int> peak{0};
    std::thread acceptThread;  // started last in the constructor, joined first in the destructor
};
