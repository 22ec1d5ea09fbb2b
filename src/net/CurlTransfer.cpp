#include "net/CurlTransfer.h"

#include "platform/DeferredWake.h"

#include <openssl/crypto.h>

#include <mutex>

namespace {

// curl's global state is set up once for the process and kept until it exits. So is OpenSSL's,
// under curl: left to itself it frees every thread's state at exit, and a download thread that is
// still ending then frees its own a second time.
void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

}  // namespace

CurlTransfer::CurlTransfer()
{
    initialiseCurlOnce();
    easyHandle = curl_easy_init();
    multiHandle = curl_multi_init();
}

CurlTransfer::~CurlTransfer()
{
    if (multiHandle)
        curl_multi_cleanup(multiHandle);
    if (easyHandle)
        curl_easy_cleanup(easyHandle);
}

void CurlTransfer::reset()
{
    if (easyHandle)
        curl_easy_reset(easyHandle);
}

CURLcode CurlTransfer::perform(const std::function<bool()>& stopped, const std::function<void()>& roundDone)
{
    if (curl_multi_add_handle(multiHandle, easyHandle) != CURLM_OK)
        return CURLE_FAILED_INIT;

    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    int running = 1;
    while (!stopped()) {
        if (curl_multi_perform(multiHandle, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        roundDone();
        if (!running) {
            int queued = 0;
            CURLMsg* message = curl_multi_info_read(multiHandle, &queued);
            result = (message && message->msg == CURLMSG_DONE) ? message->data.result : CURLE_FAILED_INIT;
            break;
        }
        // Events kept from the page wait for the network a little: a server that answers within
        // that time (the next small file of a folder) adds to the same burst, and the page's
        // thread wakes once for many files instead of once each.
        const int holdMs = DeferredWake::holdLeftMs(kHoldEventsMs);
        if (holdMs > 0) {
            int active = 0;
            if (curl_multi_poll(multiHandle, nullptr, 0, holdMs, &active) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            if (active > 0)
                continue;
        }
        // The events kept so far go to the page before the thread waits for the network.
        DeferredWake::flush();
        // Returns on socket activity, on curl's own timers, on wakeup() or after the idle limit.
        if (curl_multi_poll(multiHandle, nullptr, 0, kIdleWaitMs, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    curl_multi_remove_handle(multiHandle, easyHandle);
    return result;
}

void CurlTransfer::wakeup()
{
    curl_multi_wakeup(multiHandle);
}
