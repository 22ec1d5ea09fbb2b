// readBounded: the whole content of a small file that this program reads back (a listing, a
// sidecar), refused when it is larger than `limit` bytes so that no file can make the host hold
// more than it ever writes. False, with `error` for a person, when it cannot be read or is too
// large. Reentrant.
#pragma once

#include <cstddef>
#include <string>

bool readBounded(const std::string& file, size_t limit, std::string& text, std::string& error);
