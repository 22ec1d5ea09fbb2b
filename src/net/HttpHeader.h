// HttpHeader: the request headers of one HTTP request, rendered as the raw header block.
//
// Built on a download job's worker thread for one request, kept on that thread's stack and
// destroyed after the request; never shared between threads or requests.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class HttpHeader {
public:
    // Starts with the two headers of a multipart form upload: Content-Type and Accept.
    HttpHeader();
    virtual ~HttpHeader() = default;

    // An empty value changes nothing; otherwise the header is created or replaced.
    void setHeader(const std::string& name, const std::string& value);
    void removeHeader(const std::string& name);
    // Sets "Cookie" unless the text is empty.
    void setCookie(const std::string& cookie);
    // Sets "Range" when `from` is above 0: "bytes=from-to", or the open-ended "bytes=from-"
    // when `to` is below `from` (the server length is not known yet).
    void setRange(int64_t from, int64_t to);
    // "Name: value\r\n" for every header in byte order of the names; no closing empty line.
    std::string build() const;

    std::string boundary;
    std::string contentType;
    // Names compare byte by byte: "Cookie" and "cookie" are two headers, upper case sorts first.
    std::map<std::string, std::string> headers;
};
