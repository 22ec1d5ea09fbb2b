#include "support/Text.h"

#include "support/ByteSize.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isScalar(char32_t c)
{
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 sequence at text[i]. On a malformed sequence returns U+FFFD and
// advances over its maximal valid prefix (at least one byte), as the platform converter does.
char32_t decodeUtf8(const std::string& text, size_t& i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int length;
    char32_t c;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing above U+10FFFF
    } else {
        ++i;
        return kReplacement;
    }
    size_t k = i + 1;
    for (int n = 1; n < length; ++n, ++k) {
        if (k >= text.size()) {
            i = k;
            return kReplacement;
        }
        const unsigned char b = byte(k);
        const unsigned char lo = n == 1 ? low : 0x80;
        const unsigned char hi = n == 1 ? high : 0xBF;
        if (b < lo || b > hi) {
            i = k;
            return kReplacement;
        }
        c = (c << 6) | (b & 0x3F);
    }
    i = k;
    return c;
}

std::wstring untilNul(const std::wstring& text)
{
    return text.substr(0, text.find(L'\0'));
}

std::string localeCodeset()
{
    const char* codeset = nl_langinfo(CODESET);
    return codeset ? codeset : "";
}

}  // namespace

std::string toUtf8(const std::wstring& text)
{
    std::string out;
    const std::wstring source = untilNul(text);
    out.reserve(source.size());
    for (size_t i = 0; i < source.size(); ++i) {
        char32_t c = static_cast<char32_t>(source[i]);
        // A UTF-16 surrogate pair stored in wide text still names one character.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < source.size()) {
            const char32_t next = static_cast<char32_t>(source[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        appendUtf8(out, isScalar(c) ? c : kReplacement);
    }
    return out;
}

std::wstring fromUtf8(const std::string& text)
{
    std::wstring out;
    const std::string source = text.substr(0, text.find('\0'));
    out.reserve(source.size());
    size_t i = 0;
    while (i < source.size())
        out += static_cast<wchar_t>(decodeUtf8(source, i));
    return out;
}

bool isCleanUtf8(const std::string& text)
{
    // Checked in place, each character decoded and encoded again; a plain ASCII byte other
    // than NUL is its own encoding, and most of a command is made of them.
    std::string again;
    for (size_t i = 0; i < text.size();) {
        const auto plain = static_cast<unsigned char>(text[i]);
        if (plain != 0 && plain < 0x80) {
            ++i;
            continue;
        }
        const size_t from = i;
        const char32_t c = decodeUtf8(text, i);
        again.clear();
        appendUtf8(again, c);
        if (c == 0 || again.compare(0, again.size(), text, from, i - from) != 0)
            return false;
    }
    return true;
}

std::string cleanUtf8(const std::string& text)
{
    return isCleanUtf8(text) ? text : toUtf8(fromUtf8(text));
}

std::string toAnsi(const std::wstring& text)
{
    const std::string codeset = localeCodeset();
    if (codeset == "UTF-8" || codeset == "utf8")
        return toUtf8(text);

    const std::wstring source = untilNul(text);
    iconv_t cd = iconv_open(codeset.c_str(), "WCHAR_T");
    std::string out;
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (wchar_t c : source)
            out += c < 0x80 ? static_cast<char>(c) : '?';
        return out;
    }
    for (wchar_t c : source) {
        char buffer[16];
        char* in = reinterpret_cast<char*>(&c);
        size_t inLeft = sizeof(wchar_t);
        char* outPtr = buffer;
        size_t outLeft = sizeof(buffer);
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
            out += '?';
        else
            out.append(buffer, outPtr - buffer);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

std::string urlDecode(const std::string& text)
{
    const auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    const size_t length = text.size();
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (c == '%') {
            const int hi = i + 1 < length ? hexValue(text[i + 1]) : -1;
            const int lo = i + 2 < length ? hexValue(text[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
            }
        } else if (c == '+') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring formatInt64W(int64_t value)
{
    const std::string narrow = formatInt64(value);
    return std::wstring(narrow.begin(), narrow.end());
}

std::string formatInt64(int64_t value)
{
    return std::to_string(value);
}

std::string formatInt(int32_t value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d", value);
    return buffer;
}

std::string intToString(int32_t value)
{
    return std::to_string(value);
}

int64_t parseInt64(const std::string& text)
{
    errno = 0;
    const std::string source = text.substr(0, text.find('\0'));
    return static_cast<int64_t>(std::strtoll(source.c_str(), nullptr, 10));
}

int64_t jsonToInt64(const Json::Value& value)
{
    int64_t result = 0;
    if (value.isString())
        result = parseInt64(value.asString());
    if (value.isInt64())
        return value.asInt64();
    return result;
}

std::wstring sizeText(int64_t value)
{
    if (value == 0)
        return L"0byte";
    if (value >= 1024)
        return formatByteSize(value);
    return formatInt64W(value) + L"bytes";
}
