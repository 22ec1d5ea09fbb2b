// JSON text in and out, the way the control's message channel reads and writes it:
// parsing in the reader's default mode (comments accepted, any value at the root) and compact
// writing (no white space, members in key order, non-ASCII text as UTF-8 characters, no
// comments, one line feed at the end).
#pragma once

#include <json/value.h>

#include <string>

// False when the text is not valid JSON; `value` is then unspecified.
bool parseJson(const std::string& text, Json::Value& value);
std::string writeCompactJson(const Json::Value& value);
