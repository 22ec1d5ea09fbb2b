#include "net/HttpHeader.h"

#include "support/Text.h"

HttpHeader::HttpHeader() : boundary("---------------------------7da1d41060a1a"), contentType("multipart/form-data")
{
    setHeader("Content-Type", contentType + "; boundary=" + boundary);
    setHeader("Accept", "*/*");
}

void HttpHeader::setHeader(const std::string& name, const std::string& value)
{
    if (value.empty())
        return;
    headers[name] = value;
}

void HttpHeader::removeHeader(const std::string& name)
{
    headers.erase(name);
}

void HttpHeader::setCookie(const std::string& cookie)
{
    setHeader("Cookie", cookie);
}

void HttpHeader::setRange(int64_t from, int64_t to)
{
    if (from <= 0)
        return;
    // "bytes=4096-0" would be an invalid range; without an end the server sends the rest.
    std::string range = "bytes=" + formatInt64(from) + "-";
    if (to >= from)
        range += formatInt64(to);
    setHeader("Range", range);
}

std::string HttpHeader::build() const
{
    std::string block;
    for (const auto& header : headers)
        block += header.first + ": " + header.second + "\r\n";
    return block;
}
