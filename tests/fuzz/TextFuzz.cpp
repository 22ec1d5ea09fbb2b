// Percent-decoding and the UTF-8 conversions, on any bytes and any wide code units.
#include "support/Text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

namespace {

void require(bool holds)
{
    if (!holds)
        std::abort();
}

bool isScalar(wchar_t c)
{
    return c >= 0 && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // Every escape or plus sign becomes at most one byte.
    require(urlDecode(bytes).size() <= bytes.size());

    // Decoding yields Unicode scalar values only, and stops at a NUL.
    const std::wstring wide = fromUtf8(bytes);
    require(wide.size() <= bytes.size());
    for (wchar_t c : wide)
        require(isScalar(c) && c != 0);
    // Encoding what was decoded, and decoding that again, changes nothing more.
    const std::string utf8 = toUtf8(wide);
    require(fromUtf8(utf8) == wide);
    // A command's text cleaned in place is what the round through wide text makes of it.
    require(cleanUtf8(bytes) == utf8);

    // Arbitrary code units: the encoder's output is always well-formed, so it survives a round.
    FuzzedDataProvider input(data, size);
    std::wstring units;
    while (input.remaining_bytes() >= sizeof(uint32_t))
        units += static_cast<wchar_t>(input.ConsumeIntegral<uint32_t>());
    const std::string encoded = toUtf8(units);
    require(toUtf8(fromUtf8(encoded)) == encoded);
    toAnsi(units);
    return 0;
}
