// CurlTransfer: the libcurl handles of one HTTP request and the loop that drives them.
//
// Owned by HttpDowner::request() as a local for one request, or by a ConnectionCache for the
// requests of one job, one after another. The thread that runs a request configures easy(),
// calls perform() once and (for a kept object) reset() before the next request; the destructor
// releases both handles. wakeup() is the one operation other threads may call, and only while a
// request runs (HttpDowner's transfer lock guarantees that).
#pragma once

#include <curl/curl.h>

#include <functional>

class CurlTransfer {
public:
    CurlTransfer();
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // False when curl could not create its handles; nothing else may be called then.
    bool ready() const { return easyHandle && multiHandle; }
    CURL* easy() { return easyHandle; }
    // Readies the handles for another request: every option back to curl's default (open
    // connections and cached names stay).
    void reset();

    // Runs the transfer to its end on the calling thread; curl's callbacks run inside it.
    // `roundDone` runs after every round of curl's work (everything the callbacks got since the
    // last round came from that one step). `stopped` is asked between rounds and after every
    // wake-up; once it answers true the transfer is dropped and CURLE_ABORTED_BY_CALLBACK
    // returned. Idle waits last at most kIdleWaitMs, so a stop that nobody announces with
    // wakeup() is still seen that soon.
    CURLcode perform(const std::function<bool()>& stopped, const std::function<void()>& roundDone);

    // Any thread: makes a wait inside perform() return at once so that `stopped` is asked.
    void wakeup();

    static const int kIdleWaitMs = 100;
    // The longest the page's events wait for the network before they are handed over.
    static const int kHoldEventsMs = 5;

private:
    CURL* easyHandle = nullptr;
    CURLM* multiHandle = nullptr;
};
