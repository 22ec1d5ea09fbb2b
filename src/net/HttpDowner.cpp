#include "net/HttpDowner.h"

#include "log/Log.h"
#include "net/ContentDisposition.h"
#include "net/CurlTransfer.h"
#include "platform/BlockedTime.h"
#include "support/Path.h"
#include "support/Text.h"

#include <boost/algorithm/string/predicate.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// curl's receive buffer: what one read from the socket may take (curl then hands it to the write
// callback in pieces of at most 16 KiB, which writeCallback gathers into one block per step).
// Measured on 1 GiB from nginx on loopback: CPU time falls from 16 KiB to 256 KiB, and 512 KiB
// brings nothing more.
const long kReceiveBufferSize = 256 * 1024;
const long kMaxRedirects = 10;

bool isRedirect(int status)
{
    return status >= 300 && status < 400 && status != 304;
}

// `text` with the bytes a browser percent-encodes before it sends a URL it was given (spaces,
// controls, quotes, angle brackets and the like, and every byte of a non-ASCII character);
// "%" stays, so an address that is encoded already is sent as it is.
std::string browserEncoded(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>`{}|^", c)) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

// The URL as curl will request it: with a non-empty objectName in place of path and query,
// encoded as a browser encodes it, and without the user name and password it may carry (they
// are never sent). Returns the CURLUcode of the first part that failed, CURLUE_OK on success.
CURLUcode composeUrl(const std::string& url, const std::string& objectName, std::string& result)
{
    std::unique_ptr<CURLU, void (*)(CURLU*)> handle(curl_url(), curl_url_cleanup);
    if (!handle)
        return CURLUE_OUT_OF_MEMORY;
    CURLUcode code = curl_url_set(handle.get(), CURLUPART_URL, browserEncoded(url).c_str(), 0);
    if (code == CURLUE_OK)
        code = curl_url_set(handle.get(), CURLUPART_USER, nullptr, 0);
    if (code == CURLUE_OK)
        code = curl_url_set(handle.get(), CURLUPART_PASSWORD, nullptr, 0);
    if (code == CURLUE_OK && !objectName.empty()) {
        const std::string object = browserEncoded(objectName);
        const size_t question = object.find('?');
        const std::string path = object.substr(0, question);
        code = curl_url_set(handle.get(), CURLUPART_PATH, path.c_str(), 0);
        if (code == CURLUE_OK)
            code = curl_url_set(handle.get(), CURLUPART_QUERY,
                                question == std::string::npos ? nullptr : object.c_str() + question + 1, 0);
        if (code == CURLUE_OK)
            code = curl_url_set(handle.get(), CURLUPART_FRAGMENT, nullptr, 0);
    }
    char* text = nullptr;
    if (code == CURLUE_OK)
        code = curl_url_get(handle.get(), CURLUPART_URL, &text, 0);
    if (code == CURLUE_OK)
        result = text;
    curl_free(text);
    return code;
}

bool isConnectFailure(CURLcode result)
{
    return result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_RESOLVE_PROXY ||
           result == CURLE_COULDNT_CONNECT || result == CURLE_OPERATION_TIMEDOUT;
}

class DroppingReceiver : public HttpDowner::Receiver {
    void sent(unsigned long) override {}
    bool answered(const HttpAnswer&) override { return true; }
    void received(std::vector<char>&) override {}
    void stored() override {}
};

bool isRequestFailure(CURLcode result)
{
    return result == CURLE_URL_MALFORMAT || result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_FAILED_INIT ||
           result == CURLE_OUT_OF_MEMORY;
}

}  // namespace

bool HttpDowner::stopRequested() const
{
    return closed.load() || (stopFlag && stopFlag->load());
}

void HttpDowner::closeHandles()
{
    std::lock_guard<std::mutex> guard(transferLock);
    closed = true;
    if (transfer)
        transfer->wakeup();
}

bool HttpDowner::request(const std::wstring& url, const std::wstring& objectName)
{
    if (stopRequested())
        return false;

    worker.bindToCurrent();
    // Without a receiver the body is taken and dropped.
    static Receiver* const dropping = new DroppingReceiver();
    if (!receiver)
        receiver = dropping;
    urlFileName = pathFileName(url);
    // The owner's handles when it keeps some between its requests, else a pair for this one.
    std::unique_ptr<CurlTransfer> own;
    CurlTransfer* kept = connections ? connections->handles() : nullptr;
    if (!kept)
        own = std::make_unique<CurlTransfer>();
    CurlTransfer& curl = kept ? *kept : *own;
    if (!curl.ready()) {
        ZLOG("创建请求失败，错误码：" << static_cast<int>(CURLE_FAILED_INIT));
        return false;
    }
    if (!configure(curl, url, objectName))
        return false;

    {
        std::lock_guard<std::mutex> guard(transferLock);
        if (closed)
            return false;
        transfer = &curl;
    }
    noteActivity();
    easyInUse = curl.easy();
    requestBytesNoted = 0;
    const CURLcode result = curl.perform([this] { return stopRequested() || silentTooLong(); },
                                         [this] {
                                             noteRequestsSent();
                                             deliverBlock();
                                         });
    easyInUse = nullptr;
    {
        std::lock_guard<std::mutex> guard(transferLock);
        transfer = nullptr;
    }
    return finish(result, curl);
}

bool HttpDowner::configure(CurlTransfer& curl, const std::wstring& url, const std::wstring& objectName)
{
    std::string target;
    const CURLUcode urlResult = composeUrl(toUtf8(url), toUtf8(objectName), target);
    if (urlResult != CURLUE_OK) {
        ZLOG("创建请求失败，错误码：" << static_cast<int>(urlResult));
        return false;
    }
    CURL* easy = curl.easy();
    curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
    setRequestHeaders(easy);
    setConnectionOptions(easy);
    setCallbacks(easy);
    return true;
}

void HttpDowner::setRequestHeaders(CURL* easy)
{
    // The block goes out line by line as given; curl's own Accept is left out unless the block
    // has one, so that only what the caller built (plus Host and User-Agent) is sent.
    bool hasAccept = false;
    size_t at = 0;
    while (at < headers.size()) {
        size_t end = headers.find('\n', at);
        if (end == std::string::npos)
            end = headers.size();
        std::string line = headers.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        at = end + 1;
        if (line.empty())
            continue;
        hasAccept = hasAccept || boost::istarts_with(line, "Accept:");
        headerList.reset(curl_slist_append(headerList.release(), line.c_str()));
    }
    if (!hasAccept)
        headerList.reset(curl_slist_append(headerList.release(), "Accept:"));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Zelvorn");
    const std::string method = toUtf8(verb);
    if (method == "HEAD")
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    else if (!method.empty() && method != "GET")
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
}

void HttpDowner::setConnectionOptions(CURL* easy)
{
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    // Intranet servers with certificates of their own rely on https being accepted unchecked.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    if (stallSeconds > 0)
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, stallSeconds);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    if (connections && connections->handle())
        curl_easy_setopt(easy, CURLOPT_SHARE, connections->handle());
}

void HttpDowner::setCallbacks(CURL* easy)
{
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpDowner::headerCallback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpDowner::writeCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
}

bool HttpDowner::finish(CURLcode result, CurlTransfer& curl)
{
    if (result != CURLE_OK)
        failureReason = curl_easy_strerror(result);
    if (stopRequested()) {
        moveTo(Phase::stopped);
        return false;
    }
    if (stalled) {
        ZLOG("服务器无响应,秒数:" << stallSeconds);
        failureReason = "nothing received for " + std::to_string(stallSeconds) + " seconds";
        moveTo(Phase::failed);
        return false;
    }
    if (phase == Phase::failed)
        return false;
    if (awaitingResponse() && result == CURLE_OK && !responseSteps())  // its headers looked like a redirect
        return false;
    if (result == CURLE_TOO_MANY_REDIRECTS) {
        long code = 0;
        curl_easy_getinfo(curl.easy(), CURLINFO_RESPONSE_CODE, &code);
        statusCode = static_cast<int>(code);
    } else if (result == CURLE_OK || (result == CURLE_PARTIAL_FILE && phase == Phase::receivingBody)) {
        moveTo(Phase::finished);  // a body cut short included: the owner judges its length
        return true;
    } else if (isConnectFailure(result)) {
        ZLOG("连接服务器错误" << static_cast<int>(result));
        long systemError = 0;
        curl_easy_getinfo(curl.easy(), CURLINFO_OS_ERRNO, &systemError);
        if (result == CURLE_COULDNT_CONNECT && systemError)
            failureReason = std::strerror(static_cast<int>(systemError));
    } else if (isRequestFailure(result)) {
        ZLOG("创建请求失败，错误码：" << static_cast<int>(result));
    } else if (awaitingResponse()) {
        ZLOG("发送HTTP请求头失败，错误码:" << static_cast<int>(result));
    }
    moveTo(Phase::failed);
    return false;
}

void HttpDowner::moveTo(Phase next)
{
    const bool allowed =
        (phase == Phase::connecting && next == Phase::awaitingHeaders) ||
        (phase == Phase::awaitingHeaders && (next == Phase::awaitingHeaders || next == Phase::receivingBody)) ||
        ((awaitingResponse() || phase == Phase::receivingBody) &&
         (next == Phase::finished || next == Phase::failed || next == Phase::stopped));
    if (!allowed)
        ZLOG("传输阶段转换无效：" << static_cast<int>(phase) << "->" << static_cast<int>(next));
    phase = next;
}

void HttpDowner::noteActivity()
{
    lastActivity = std::chrono::steady_clock::now();
    blockedAtActivity = BlockedTime::total();
}

bool HttpDowner::silentTooLong()
{
    if (stallSeconds <= 0)
        return false;
    using namespace std::chrono;
    // Time this thread spent waiting for the page is no silence of the server.
    const auto silent = duration_cast<milliseconds>(steady_clock::now() - lastActivity).count() -
                        (BlockedTime::total() - blockedAtActivity);
    stalled = silent > stallSeconds * 1000L;
    return stalled;
}

size_t HttpDowner::headerCallback(char* data, size_t size, size_t count, void* self)
{
    HttpDowner& owner = *static_cast<HttpDowner*>(self);
    owner.worker.check("HttpDowner::headerCallback");
    owner.noteActivity();
    const size_t bytes = size * count;
    if (!owner.awaitingResponse())  // trailers after a body
        return bytes;
    owner.noteRequestsSent();
    if (!owner.responseHeaders.addLine(data, bytes))
        return bytes;
    // A response's headers are complete. Interim responses and redirects that curl follows are
    // not the final response; their headers are dropped with the next status line.
    const int status = owner.responseHeaders.statusCode();
    if (status < 200 || (isRedirect(status) && owner.responseHeaders.has("Location")))
        return bytes;
    return owner.responseSteps() ? bytes : 0;
}

size_t HttpDowner::writeCallback(char* data, size_t size, size_t count, void* self)
{
    HttpDowner& owner = *static_cast<HttpDowner*>(self);
    owner.worker.check("HttpDowner::writeCallback");
    owner.noteActivity();
    const size_t bytes = size * count;
    if (owner.awaitingResponse()) {
        owner.noteRequestsSent();
        if (!owner.responseSteps())
            return 0;
    }
    if (owner.stopRequested())
        return 0;
    if (owner.block.empty())
        owner.block.reserve(kMaxBlock);
    for (size_t taken = 0; taken < bytes;) {
        const size_t piece = std::min(bytes - taken, kMaxBlock - owner.block.size());
        owner.block.insert(owner.block.end(), data + taken, data + taken + piece);
        taken += piece;
        if (owner.block.size() == kMaxBlock) {
            owner.deliverBlock();
            if (owner.stopRequested())
                return 0;
        }
    }
    return bytes;
}

void HttpDowner::deliverBlock()
{
    worker.check("HttpDowner::deliverBlock");
    if (block.empty() || stopRequested()) {
        block.clear();
        return;
    }
    receiver->received(block);
    block.clear();
    receiver->stored();
}

void HttpDowner::noteRequestsSent()
{
    // curl counts the bytes of every request it wrote, the hops of a redirect added up. Asking
    // costs nothing; its debug channel, which also says so, would have curl format a line of
    // text for every step of every transfer.
    long total = 0;
    if (!awaitingResponse() || !easyInUse || curl_easy_getinfo(easyInUse, CURLINFO_REQUEST_SIZE, &total) != CURLE_OK ||
        total <= requestBytesNoted)
        return;
    const long bytes = total - requestBytesNoted;
    requestBytesNoted = total;
    moveTo(Phase::awaitingHeaders);
    receiver->sent(static_cast<unsigned long>(bytes));
}

bool HttpDowner::responseSteps()
{
    int64_t contentLength = 0;
    const bool taken =
        !stopRequested() && readAnswer(contentLength) &&
        receiver->answered(HttpAnswer{statusCode, contentLength, range(), fileName(), responseHeaders}) &&
        !stopRequested();
    moveTo(taken ? Phase::receivingBody : stopRequested() ? Phase::stopped : Phase::failed);
    return taken;
}

bool HttpDowner::readAnswer(int64_t& contentLength)
{
    statusCode = responseHeaders.statusCode();
    if (statusCode != 200 && statusCode != 206)
        return false;
    std::string value;
    const bool digits =
        responseHeaders.find("Content-Length", value) && !value.empty() &&
        std::all_of(value.begin(), value.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    if (!digits) {
        ZLOG("应答缺少长度");
        return false;
    }
    contentLength = parseInt64(value);
    if (!responseHeaders.has("Content-Type")) {
        ZLOG("应答缺少类型");
        return false;
    }
    return true;
}

ContentRange HttpDowner::range() const
{
    std::string value;
    return responseHeaders.find("Content-Range", value) ? ContentRange::parse(value) : ContentRange();
}

std::wstring HttpDowner::fileName() const
{
    std::string value;
    std::wstring name;
    if (responseHeaders.find("Content-Disposition", value))
        name = dispositionFileName(value);
    return name.empty() ? urlFileName : name;
}
