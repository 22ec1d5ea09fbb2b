// formatByteSize: the short size text of a byte count ("512 bytes", "1.30 KB", "2.23 GB").
// Values of 1024 and more are given in KB to EB (powers of 1024) with three significant digits,
// truncated; a value that reaches 1000 in one unit moves to the next.
#pragma once

#include <cstdint>
#include <string>

std::wstring formatByteSize(int64_t bytes);
