// ConnectionCache: what one owner's requests keep between them, so that many small requests to
// one server pay neither for a new connection nor for new curl handles each: a libcurl share
// handle with the open connections (and resolved names and TLS sessions), and the easy and multi
// handles themselves, reset for each request.
//
// Owned by a download job (shared pointer) for the job's lifetime; handed to each HttpDowner
// the job makes. Requests use it one after another, possibly from different threads, never at
// once (a job runs one request at a time); the lock callbacks serialise curl's own access to the
// share handle.
#pragma once

#include "net/CurlTransfer.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

class ConnectionCache {
public:
    ConnectionCache();
    ConnectionCache(const ConnectionCache&) = delete;
    ConnectionCache& operator=(const ConnectionCache&) = delete;

    // The share handle for CURLOPT_SHARE; null when curl could not make one.
    CURLSH* handle() const { return share.get(); }
    // The request handles to reuse, reset to curl's defaults; for one request at a time.
    CurlTransfer* handles();

private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void unlock(CURL*, curl_lock_data data, void* self);

    struct ShareCleanup {
        void operator()(CURLSH* handle) const { curl_share_cleanup(handle); }
    };

    // Declared in this order so that they end in the reverse one: curl refuses to free a share
    // an easy handle still uses, and takes the locks while it frees the share.
    std::mutex locks[CURL_LOCK_DATA_LAST];  // one per kind of shared data, taken by curl
    std::unique_ptr<CURLSH, ShareCleanup> share;
    CurlTransfer transfer;  // used by one request at a time
};
