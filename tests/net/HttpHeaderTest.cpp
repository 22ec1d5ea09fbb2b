#include "net/HttpHeader.h"

#include <gtest/gtest.h>

namespace {

// The header object as both download jobs prepare it for one request.
std::string jobBlock(int64_t from, int64_t to, const std::string& cookie)
{
    HttpHeader header;
    header.removeHeader("Content-Type");
    header.removeHeader("Accept");
    header.setRange(from, to);
    header.setCookie(cookie);
    return header.build();
}

}  // namespace

TEST(HttpHeader, JobBlocksForEveryCombination)
{
    EXPECT_EQ(jobBlock(1024, 4095, "sid=1; u=2"), "Cookie: sid=1; u=2\r\nRange: bytes=1024-4095\r\n");
    EXPECT_EQ(jobBlock(0, 4095, "sid=1"), "Cookie: sid=1\r\n");
    EXPECT_EQ(jobBlock(1024, 4095, ""), "Range: bytes=1024-4095\r\n");
    EXPECT_EQ(jobBlock(0, 0, ""), "");
    EXPECT_EQ(jobBlock(-1, 4095, ""), "");
    EXPECT_EQ(jobBlock(6442450944, 8589934591, ""), "Range: bytes=6442450944-8589934591\r\n");
}

TEST(HttpHeader, RangeWithoutAKnownEndIsOpenEnded)
{
    EXPECT_EQ(jobBlock(4096, 0, ""), "Range: bytes=4096-\r\n");
    EXPECT_EQ(jobBlock(4096, 4095, ""), "Range: bytes=4096-\r\n");
    EXPECT_EQ(jobBlock(4096, 4096, ""), "Range: bytes=4096-4096\r\n");
}

TEST(HttpHeader, SettingReplacesAndEmptyValuesChangeNothing)
{
    HttpHeader header;
    header.removeHeader("Content-Type");
    header.removeHeader("Accept");
    header.removeHeader("Accept");  // removing an absent header is harmless
    header.setHeader("X-Empty", "");
    header.setCookie("");
    EXPECT_EQ(header.build(), "");

    header.setCookie("a=1");
    header.setCookie("a=2");
    header.setCookie("");
    header.setHeader("Cookie", "");
    header.setRange(10, 20);
    header.setRange(30, 40);
    header.setRange(0, 50);
    EXPECT_EQ(header.build(), "Cookie: a=2\r\nRange: bytes=30-40\r\n");
}

TEST(HttpHeader, NamesAreCaseSensitiveAndSortByBytes)
{
    HttpHeader header;
    header.headers.clear();
    header.setHeader("cookie", "lower");
    header.setHeader("Cookie", "upper");
    header.setHeader("X-Id", "7");
    EXPECT_EQ(header.build(), "Cookie: upper\r\nX-Id: 7\r\ncookie: lower\r\n");
}
