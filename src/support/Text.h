// Text conversions and number texts shared by every layer.
//
// Wide text is std::wstring (UTF-32 code units here); narrow text inside JSON and URLs is
// UTF-8; "ANSI" text is the locale's codeset and is used for log values only.
// All functions are reentrant and keep no state between calls.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// UTF-16/32 -> UTF-8. Text after an embedded NUL is dropped; characters that are not
// Unicode scalar values become U+FFFD.
std::string toUtf8(const std::wstring& text);
// UTF-8 -> wide. Malformed sequences become U+FFFD; text stops at an embedded NUL.
std::wstring fromUtf8(const std::string& text);
// True when a round trip through wide text leaves `text` as it is: well-formed UTF-8 without a NUL.
bool isCleanUtf8(const std::string& text);
// `text` as a round trip through wide text leaves it (toUtf8(fromUtf8(text))), without making
// the wide copy when the text is clean already.
std::string cleanUtf8(const std::string& text);
// Wide -> the locale's codeset (nl_langinfo(CODESET)); characters it cannot hold become '?'.
std::string toAnsi(const std::wstring& text);

// "%XX" becomes that byte, a "%" without two hex digits is dropped, "+" becomes a space.
std::string urlDecode(const std::string& text);

std::wstring formatInt64W(int64_t value);
std::string formatInt64(int64_t value);
std::string formatInt(int32_t value);
std::string intToString(int32_t value);

// strtoll with base 10: leading blanks and one sign, stops at the first non-digit,
// no digits give 0, out-of-range values give the 64-bit limit.
int64_t parseInt64(const std::string& text);
// A length member of a task: integers and integral reals inside the signed 64-bit range as
// they are, strings through parseInt64, anything else 0.
int64_t jsonToInt64(const Json::Value& value);

// Size text of a byte count: "0byte", "<n>bytes" below 1024 (and for negatives), else
// formatByteSize ("1.00 KB").
std::wstring sizeText(int64_t value);
