// ResponseHeaders: the header lines of the response being received, looked up by name.
//
// Owned by HttpDowner and filled on the worker thread from curl's header callback during one
// request. Each status line starts a fresh collection, so after redirects and interim (1xx)
// responses only the latest response's headers are held.
#pragma once

#include <string>
#include <utility>
#include <vector>

class ResponseHeaders {
public:
    // Feeds one raw line as curl delivers it, line end included. Returns true when the line is
    // the blank line that completes a response's header block.
    bool addLine(const char* data, size_t length);

    // Status code of the current response's status line; 0 before one arrived.
    int statusCode() const { return status; }
    // The reason phrase of that status line ("Not Found"); "" when it has none.
    const std::string& reasonPhrase() const { return reason; }
    // The value of the first header of that name (compared case-insensitively), trimmed.
    bool find(const std::string& name, std::string& value) const;
    bool has(const std::string& name) const;
    // False when two headers of that name disagree (two different Content-Length values leave
    // the length of the body unknown).
    bool consistent(const std::string& name) const;

private:
    int status = 0;
    std::string reason;
    std::vector<std::pair<std::string, std::string>> fields;
};
