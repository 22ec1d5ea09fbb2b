// ConnectionCache: a libcurl share handle that keeps open connections (and resolved names and
// TLS sessions) between the requests of one owner, so that many small requests to one server
// do not each pay for a new connection.
//
// Owned by a download job (shared pointer) for the job's lifetime; handed to each HttpDowner
// the job makes. Requests may use it from different threads one after another; the lock
// callbacks serialise curl's own access to it.
#pragma once

#include <curl/curl.h>

#include <mutex>

class ConnectionCache {
public:
    ConnectionCache();
    ~ConnectionCache();
    ConnectionCache(const ConnectionCache&) = delete;
    ConnectionCache& operator=(const ConnectionCache&) = delete;

    // The share handle for CURLOPT_SHARE; null when curl could not make one.
    CURLSH* handle() const { return share; }

private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void unlock(CURL*, curl_lock_data data, void* self);

    CURLSH* share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];  // one per kind of shared data, taken by curl
};
