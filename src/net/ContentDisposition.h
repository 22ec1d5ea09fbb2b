// The file name a Content-Disposition header value carries.
//
// A pure function: reentrant, no state, usable from any thread.
#pragma once

#include <string>

// The name from `value` (the header value without its name): the `filename*` parameter
// (charset'language'percent-encoded, UTF-8 or ISO-8859-1) when present, else `filename`, quoted
// or plain, whose percent-encoding is undone ("%20" and "+" become spaces) before it is read as
// UTF-8. Each value ends at its own ";". Empty when neither parameter is there.
// The name is returned as sent: it may hold separators or "..", which the caller must handle.
std::wstring dispositionFileName(const std::string& value);
