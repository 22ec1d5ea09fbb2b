#include "support/ByteSize.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>

TEST(Utf8, RoundTripsBmpAndSupplementaryCharacters)
{
    const std::wstring text = L"a\u00e9\u4e2d\U0001F600z";
    const std::string utf8 = toUtf8(text);
    EXPECT_EQ(utf8, "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z");
    EXPECT_EQ(fromUtf8(utf8), text);
    EXPECT_EQ(toUtf8(L"中文字").size(), 9u);  // three bytes per CJK character
}

TEST(Utf8, EmptyAndEmbeddedNulStopTheText)
{
    EXPECT_EQ(toUtf8(L""), "");
    EXPECT_EQ(fromUtf8(""), L"");
    EXPECT_EQ(toUtf8(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(fromUtf8(std::string("ab\0cd", 5)), L"ab");
}

TEST(Utf8, MalformedInputBecomesReplacementCharacters)
{
    // Lone continuation byte, truncated sequence at the end, overlong "/", encoded surrogate,
    // a code point above U+10FFFF and an invalid lead byte.
    EXPECT_EQ(fromUtf8("a\x80z"), L"a\uFFFDz");
    EXPECT_EQ(fromUtf8("a\xE4\xB8"), L"a\uFFFD");
    EXPECT_EQ(fromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");
    EXPECT_EQ(fromUtf8("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(fromUtf8("\xF4\x90\x80\x80"), L"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(fromUtf8("\xFFx"), L"\uFFFDx");
    // A truncated sequence followed by ASCII keeps the ASCII character.
    EXPECT_EQ(fromUtf8("\xE4\xB8z"), L"\uFFFDz");
    // A text cleaned without the wide copy comes out as the round through wide text makes it.
    for (const std::string& text : {std::string("a\x80z"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
                                    std::string("ok\xE4\xB8\xAD"), std::string("cut\0here", 8)}) {
        EXPECT_EQ(cleanUtf8(text), toUtf8(fromUtf8(text))) << text;
        EXPECT_EQ(isCleanUtf8(text), text == "ok\xE4\xB8\xAD") << text;
    }
}

TEST(Utf8, WideTextThatIsNoCharacterBecomesReplacement)
{
    std::wstring lone(1, static_cast<wchar_t>(0xD800));
    EXPECT_EQ(toUtf8(lone), "\xEF\xBF\xBD");
    std::wstring beyond(1, static_cast<wchar_t>(0x110000));
    EXPECT_EQ(toUtf8(beyond), "\xEF\xBF\xBD");
    // A UTF-16 surrogate pair carried in wide text is one character.
    std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(toUtf8(pair), "\xF0\x9F\x98\x80");
}

TEST(Ansi, FollowsTheLocaleCodeset)
{
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(toAnsi(L"abc\u4e2d"), "abc?");
    if (std::setlocale(LC_ALL, "C.UTF-8")) {
        EXPECT_EQ(toAnsi(L"abc\u4e2d"), "abc\xE4\xB8\xAD");
    }
    std::setlocale(LC_ALL, "C");
}

TEST(UrlDecode, EscapesPlusAndBrokenPercentSigns)
{
    EXPECT_EQ(urlDecode("a%20b"), "a b");
    EXPECT_EQ(urlDecode("a+b"), "a b");
    EXPECT_EQ(urlDecode("1%2B1"), "1+1");
    EXPECT_EQ(urlDecode("%e4%B8%aD"), "\xE4\xB8\xAD");
    EXPECT_EQ(urlDecode("100%"), "100");
    EXPECT_EQ(urlDecode("%4"), "4");
    EXPECT_EQ(urlDecode("%zzq"), "zzq");
    EXPECT_EQ(urlDecode("%%41"), "A");
    EXPECT_EQ(urlDecode("%00x").size(), 2u);
}

TEST(Numbers, DecimalTexts)
{
    EXPECT_EQ(formatInt64(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(formatInt64W(5368709120LL), L"5368709120");
    EXPECT_EQ(formatInt(-42), "-42");
    EXPECT_EQ(intToString(std::numeric_limits<int32_t>::min()), "-2147483648");
}

TEST(Numbers, ParseInt64FollowsStrtoll)
{
    EXPECT_EQ(parseInt64("1048576"), 1048576);
    EXPECT_EQ(parseInt64("12abc"), 12);
    EXPECT_EQ(parseInt64(" -5"), -5);
    EXPECT_EQ(parseInt64("+7"), 7);
    EXPECT_EQ(parseInt64(""), 0);
    EXPECT_EQ(parseInt64("abc"), 0);
    EXPECT_EQ(parseInt64("99999999999999999999"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(parseInt64("-99999999999999999999"), std::numeric_limits<int64_t>::min());
}

TEST(Numbers, JsonToInt64AcrossTypesAndLimits)
{
    EXPECT_EQ(jsonToInt64(Json::Value(1048576)), 1048576);
    EXPECT_EQ(jsonToInt64(Json::Value(1048576.0)), 1048576);
    EXPECT_EQ(jsonToInt64(Json::Value("1048576")), 1048576);
    EXPECT_EQ(jsonToInt64(Json::Value("12abc")), 12);
    EXPECT_EQ(jsonToInt64(Json::Value(12.5)), 0);
    EXPECT_EQ(jsonToInt64(Json::Value(true)), 0);
    EXPECT_EQ(jsonToInt64(Json::Value()), 0);
    EXPECT_EQ(jsonToInt64(Json::Value(Json::arrayValue)), 0);
    EXPECT_EQ(jsonToInt64(Json::Value(Json::Int64(-5))), -5);
    EXPECT_EQ(jsonToInt64(Json::Value(Json::Int64(std::numeric_limits<int64_t>::max()))),
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(jsonToInt64(Json::Value(Json::Int64(std::numeric_limits<int64_t>::min()))),
              std::numeric_limits<int64_t>::min());
    // Beyond the signed range: 0 as a number, the limit as a string.
    EXPECT_EQ(jsonToInt64(Json::Value(Json::UInt64(9223372036854775808ULL))), 0);
    EXPECT_EQ(jsonToInt64(Json::Value(1e30)), 0);
    EXPECT_EQ(jsonToInt64(Json::Value("9223372036854775808")), std::numeric_limits<int64_t>::max());
}

TEST(SizeText, ByteCountsAndUnitBoundaries)
{
    EXPECT_EQ(sizeText(0), L"0byte");
    EXPECT_EQ(sizeText(1), L"1bytes");
    EXPECT_EQ(sizeText(1023), L"1023bytes");
    EXPECT_EQ(sizeText(-5), L"-5bytes");
    EXPECT_EQ(sizeText(1024), L"1.00 KB");
    EXPECT_EQ(formatByteSize(1023), L"1023 bytes");
    EXPECT_EQ(formatByteSize(1340), L"1.30 KB");
    EXPECT_EQ(formatByteSize(23506), L"22.9 KB");
    EXPECT_EQ(formatByteSize(1024000), L"0.97 MB");
    EXPECT_EQ(formatByteSize(2400016), L"2.28 MB");
    EXPECT_EQ(formatByteSize(2400000000LL), L"2.23 GB");
    EXPECT_EQ(formatByteSize(1048575), L"0.99 MB");
    EXPECT_EQ(formatByteSize(10239), L"9.99 KB");
    EXPECT_EQ(formatByteSize(102399), L"99.9 KB");
    EXPECT_EQ(formatByteSize(5368709120LL), L"5.00 GB");
    EXPECT_EQ(formatByteSize(std::numeric_limits<int64_t>::max()), L"7.99 EB");
}
