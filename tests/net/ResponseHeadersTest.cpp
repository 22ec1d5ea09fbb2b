#include "net/ResponseHeaders.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void feed(ResponseHeaders& headers, const std::string& line)
{
    headers.addLine(line.data(), line.size());
}

}  // namespace

TEST(ResponseHeaders, StatusCodeTakesThreeDigitsOfAnyRun)
{
    ResponseHeaders headers;
    feed(headers, "HTTP/1.1 " + std::string(40, '3') + " Odd\r\n");
    EXPECT_EQ(headers.statusCode(), 333);
    feed(headers, "HTTP/1.1 206 Partial Content\r\n");
    EXPECT_EQ(headers.statusCode(), 206);
}
