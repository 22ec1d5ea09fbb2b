// HttpAnswer: the final response of a request as its owner judges it: the status, the length of
// the body, the range it holds, the resource's name and every header, each read once.
//
// Made by HttpDowner on its worker thread when the response's headers are complete and handed
// to its receiver for the duration of one call.
#pragma once

#include "net/ContentRange.h"
#include "net/ResponseHeaders.h"

#include <cstdint>
#include <string>

struct HttpAnswer {
    int status = 0;
    int64_t contentLength = 0;
    ContentRange range;
    // From Content-Disposition, else (also when that header names nothing usable) the last
    // component of the request's URL, its query kept.
    std::wstring fileName;
    const ResponseHeaders& headers;
};
