#include "net/ConnectionCache.h"

ConnectionCache::ConnectionCache() : share(curl_share_init())
{
    if (!share)
        return;
    curl_share_setopt(share.get(), CURLSHOPT_LOCKFUNC, &ConnectionCache::lock);
    curl_share_setopt(share.get(), CURLSHOPT_UNLOCKFUNC, &ConnectionCache::unlock);
    curl_share_setopt(share.get(), CURLSHOPT_USERDATA, this);
    curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

void ConnectionCache::lock(CURL*, curl_lock_data data, curl_lock_access, void* self)
{
    static_cast<ConnectionCache*>(self)->locks[data].lock();
}

void ConnectionCache::unlock(CURL*, curl_lock_data data, void* self)
{
    static_cast<ConnectionCache*>(self)->locks[data].unlock();
}

CurlTransfer* ConnectionCache::handles()
{
    transfer.reset();
    return &transfer;
}
