// Names from servers and pages joined to the download folder: whatever the name, the path
// stays inside the folder.
#include "Inside.h"

#include "component/LocalPath.h"
#include "support/Path.h"
#include "support/Text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

namespace {

// Either UTF-8 as JSON carries it, or raw code units as a decoder may hand them over
// (NUL, surrogates and values past U+10FFFF included).
std::wstring takeName(FuzzedDataProvider& input)
{
    if (input.ConsumeBool())
        return fromUtf8(input.ConsumeRandomLengthString(256));
    std::wstring name;
    const size_t length = input.ConsumeIntegralInRange<size_t>(0, 64);
    for (size_t i = 0; i < length && input.remaining_bytes() > 0; ++i)
        name += static_cast<wchar_t>(input.ConsumeIntegral<uint32_t>());
    return name;
}

void require(bool holds)
{
    if (!holds)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const FuzzRoot& root = input.PickValueInArray(kFuzzRoots);
    const std::wstring custom = takeName(input);
    const std::wstring server = takeName(input);

    require(insideRoot(fileSystemPath(pathJoinConfined(root.given, custom)), root.native, true));

    const std::wstring plain = plainFileName(server);
    require(plain.find_first_of(L"/\\") == std::wstring::npos && plain != L"." && plain != L"..");
    require(toUtf8(plain).size() <= 255);
    for (wchar_t c : plain)
        require(c >= 0x20 && c != 0x7F && !(c >= 0x202A && c <= 0x202E) && !(c >= 0x2066 && c <= 0x2069));
    if (!plain.empty())
        require(fileSystemPath(pathJoin(root.given, plain)) == std::string(root.native) + "/" + fileSystemPath(plain));

    require(insideRoot(fileSystemPath(pathJoin(root.given, localNameFor(custom, server))), root.native));
    return 0;
}
