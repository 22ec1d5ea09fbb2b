// HttpDowner: one HTTP(S) GET over libcurl, streamed to its owner through one receiver.
//
// Owned by a download job, which keeps it as a local of its worker function: constructed,
// configured, request() called once, destroyed. request() runs on that worker thread and blocks
// it for the whole transfer; every call of the receiver comes on that same thread, from inside
// request(). closeHandles() and writes to *stopFlag may come from any thread at any time.
#pragma once

#include "net/ConnectionCache.h"
#include "net/HttpAnswer.h"
#include "net/ResponseHeaders.h"
#include "support/ThreadChecker.h"

#include <boost/atomic.hpp>

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CurlTransfer;

class HttpDowner {
public:
    // What the request tells its owner, in this order: sent() once for each request written
    // (the hops of a redirect each), before anything of its answer; answered() once for the
    // final response; then for every block of the body received() followed by stored(). Calls
    // come on the thread that runs request(); a receiver must not call request() again, but it
    // may set the stop flag or call closeHandles(), which ends the transfer early.
    class Receiver {
    public:
        virtual ~Receiver() = default;
        // The request header went out: `bytes` of it.
        virtual void sent(unsigned long bytes) = 0;
        // The final response is a 200 or 206 with a Content-Length and a Content-Type: true
        // takes its body, false refuses it (the transfer ends before any body byte).
        virtual bool answered(const HttpAnswer& answer) = 0;
        // One block of body bytes: everything one step of the transfer brought, at most
        // kMaxBlock. The receiver writes them, or keeps them by swapping `block` with a buffer
        // of its own: whatever `block` holds after the call is dropped.
        virtual void received(std::vector<char>& block) = 0;
        // The block just received has been handed on; the transfer goes on.
        virtual void stored() = 0;
    };

    HttpDowner() = default;
    HttpDowner(const HttpDowner&) = delete;
    HttpDowner& operator=(const HttpDowner&) = delete;

    // Written by the owner before request(): who is told (must outlive the request). Without
    // one the body is taken and dropped.
    Receiver* receiver = nullptr;
    // Written by the owner before request(); *stopFlag is set by any thread to stop (true = stop).
    // HttpDowner only reads it. A null flag means no stop is ever requested.
    std::shared_ptr<boost::atomic<bool>> stopFlag;
    // Written by the owner before request(): what its requests keep between them (connections
    // and handles), or null.
    std::shared_ptr<ConnectionCache> connections;
    // Request method; the jobs set "GET".
    std::wstring verb;
    // Written by the owner before request(): a transfer that receives nothing for this many
    // seconds (connecting, waiting for the answer or mid-body) fails; 0 waits for ever. Time
    // the worker spends waiting for the page to take its events does not count.
    long stallSeconds = 0;

    // Results, written by request() on the worker thread; read them after it returns.
    int statusCode = 0;  // status of the final response; 0 until known
    // Why a request that the server did not answer failed, as the system or curl words it
    // ("Connection refused", "Couldn't resolve host name"); "" otherwise.
    std::string failureReason;

    // The raw request-header block ("Name: value\r\n" lines), sent unchanged.
    void setHeaders(const std::string& lines) { headers = lines; }

    // Runs the request. An empty objectName sends the URL's own path and query; a non-empty one
    // replaces them. True when every step succeeded and the body was read to its end (a body the
    // server cut short also counts: the owner judges completeness); false on any failure and
    // whenever a stop was requested. Failures are logged with curl's error number.
    bool request(const std::wstring& url, const std::wstring& objectName);

    // The headers of the last response received, also of one that failed a check (a 416 says
    // the file's length in its Content-Range).
    const ResponseHeaders& response() const { return responseHeaders; }

    // Ends the transfer in progress at once, whatever it is waiting for (connect, TLS, headers,
    // body). Callable from any thread, before, during or after request(). It only asks: the
    // worker thread itself releases the curl handles, so nothing is released twice or used
    // after release. The request is over for good once this was called: one object, one request.
    // The owner makes sure no call races the destructor (the jobs clear their abort hook first).
    void closeHandles();

    // The largest body block handed to the receiver: what one read of curl's receive buffer
    // brings. A larger block has left the processor's cache by the time another thread writes
    // it: on ext4, 1 GiB took a fifth more CPU time with blocks of 1 MiB, five files at once a
    // third more.
    static constexpr size_t kMaxBlock = 256 * 1024;

private:
    // Where the request stands. Moves go forward only:
    //   connecting -> awaitingHeaders (the request was written; again for each redirect)
    //   awaitingHeaders -> receivingBody (the final response passed every check)
    //   connecting, awaitingHeaders, receivingBody -> finished, failed or stopped (at the end)
    enum class Phase {
        connecting,       // resolving the name, connecting, TLS
        awaitingHeaders,  // the request is out; the response's headers are awaited
        receivingBody,    // the receiver took the answer; blocks follow
        finished,         // the body was read to its end (or the server closed it early)
        failed,           // a check or the transfer failed
        stopped,          // a stop or closeHandles() ended it
    };
    // Moves to `next`; a move the list above does not allow is logged (and still made).
    void moveTo(Phase next);
    bool awaitingResponse() const { return phase == Phase::connecting || phase == Phase::awaitingHeaders; }

    // curl callbacks; they run inside request() on the worker thread.
    static size_t headerCallback(char* data, size_t size, size_t count, void* self);
    static size_t writeCallback(char* data, size_t size, size_t count, void* self);

    bool stopRequested() const;
    // Marks that the server sent something now.
    void noteActivity();
    // True (and `stalled` set) once the server has sent nothing for stallSeconds, not counting
    // the time this thread spent waiting for the page to take its events.
    bool silentTooLong();
    // Sets up the request in named steps: the URL, then the three groups below.
    bool configure(CurlTransfer& transfer, const std::wstring& url, const std::wstring& objectName);
    void setRequestHeaders(CURL* easy);
    void setConnectionOptions(CURL* easy);
    void setCallbacks(CURL* easy);
    bool finish(CURLcode result, CurlTransfer& transfer);
    // Hands the gathered body bytes on as one block (received, then stored).
    void deliverBlock();
    // Tells the receiver of request bytes curl has written since the last call: run at the end
    // of every step of the transfer and before a response's first header or body byte, so that
    // sent() comes before anything of the answer, and also for a request nobody answers.
    void noteRequestsSent();

    // The checks of the final response, run once its headers are complete: when it passes them
    // and the receiver takes it, the body begins; false ends the transfer before any body byte.
    bool responseSteps();
    // The answer, or why not (logged): a status other than 200 or 206, no Content-Length of
    // digits, no Content-Type.
    bool readAnswer(int64_t& contentLength);
    ContentRange range() const;
    std::wstring fileName() const;

    // Worker thread only: the thread that calls request(), which runs every curl callback.
    ThreadChecker worker;
    std::string headers;
    std::wstring urlFileName;  // last component of the request URL, query kept
    ResponseHeaders responseHeaders;
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headerList{nullptr, curl_slist_free_all};
    // Body bytes of the current step, handed on as one block when the step ends or the block
    // is full: curl delivers at most 16 KiB per callback, and a block per piece would cost a
    // write, a flush and an event to the page for every 16 KiB.
    std::vector<char> block;
    Phase phase = Phase::connecting;
    CURL* easyInUse = nullptr;   // worker thread only: the handle request() runs, else null
    long requestBytesNoted = 0;  // worker thread only: curl's request byte count at the last sent()
    std::chrono::steady_clock::time_point lastActivity;  // worker thread only
    int64_t blockedAtActivity = 0;                       // worker thread only: BlockedTime then
    bool stalled = false;                                // worker thread only

    std::mutex transferLock;           // guards `transfer`
    CurlTransfer* transfer = nullptr;  // the transfer request() runs, else null
    std::atomic<bool> closed{false};   // closeHandles() was called; set under transferLock,
                                       // read by the worker's stop checks without it
};
