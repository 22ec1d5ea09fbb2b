// The file name a server's Content-Disposition header gives: any header value is read without
// fault, and the name lands inside the download folder.
#include "Inside.h"

#include "component/LocalPath.h"
#include "net/ContentDisposition.h"
#include "support/Path.h"

#include <boost/algorithm/string/case_conv.hpp>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string value(reinterpret_cast<const char*>(data), size);
    const std::wstring name = dispositionFileName(value);
    // A value without a filename parameter names nothing.
    if (boost::to_lower_copy(value).find("filename") == std::string::npos && !name.empty())
        std::abort();
    for (const FuzzRoot& root : kFuzzRoots)
        if (!insideRoot(fileSystemPath(pathJoin(root.given, localNameFor(L"", name))), root.native))
            std::abort();
    return 0;
}
