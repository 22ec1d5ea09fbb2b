#include "InstallLayout.h"

namespace fs = std::filesystem;

namespace InstallLayout {

namespace {

// `installed` (relative to the executable's folder) when it exists, else `beside` it.
fs::path ownFile(const char* installed, const char* beside)
{
    const fs::path folder = executable().parent_path();
    const fs::path candidate = (folder / installed).lexically_normal();
    std::error_code error;
    return fs::exists(candidate, error) ? candidate : folder / beside;
}

}  // namespace

fs::path executable()
{
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error);
}

fs::path module()
{
    return ownFile("../lib/zelvorn/libzelvorn2.so", "libzelvorn2.so");
}

fs::path webRoot()
{
    return ownFile("../share/zelvorn/web", "web");
}

}  // namespace InstallLayout
