#include "component/PathClaim.h"

#include "support/Path.h"

#include <mutex>
#include <set>

namespace {

std::mutex tableLock;
std::set<std::wstring>& claimedPaths()  // guarded by tableLock
{
    static auto* const paths = new std::set<std::wstring>();  // outlives detached workers
    return *paths;
}

// One spelling per file: separators of either kind and "." or ".." parts name the same path.
std::wstring key(const std::wstring& path)
{
    return pathJoin(path, L"");
}

// "dir/name (n).ext"; a name that starts with its only dot (".profile") has no extension.
std::wstring numbered(const std::wstring& path, int n)
{
    const std::wstring name = pathFileName(path);
    const std::wstring dir = path.substr(0, path.size() - name.size());
    std::wstring extension = pathExtension(name);
    if (extension.size() == name.size())
        extension.clear();
    const std::wstring stem = name.substr(0, name.size() - extension.size());
    return dir + stem + L" (" + std::to_wstring(n) + L")" + extension;
}

const int kMaxNumber = 9999;

}  // namespace

PathClaim::~PathClaim()
{
    release();
}

bool PathClaim::claim(const std::wstring& path)
{
    release();
    std::lock_guard<std::mutex> lock(tableLock);
    const std::wstring wanted = key(path);
    if (!claimedPaths().insert(wanted).second)
        return false;
    held = wanted;
    return true;
}

std::wstring PathClaim::claimFree(const std::wstring& path)
{
    release();
    const std::wstring wanted = key(path);
    std::lock_guard<std::mutex> lock(tableLock);
    for (int n = 0; n <= kMaxNumber; ++n) {
        const std::wstring candidate = n == 0 ? wanted : numbered(wanted, n);
        if (claimedPaths().count(candidate) || pathExists(candidate))
            continue;
        claimedPaths().insert(candidate);
        held = candidate;
        return held;
    }
    return std::wstring();
}

void PathClaim::release()
{
    if (held.empty())
        return;
    std::lock_guard<std::mutex> lock(tableLock);
    claimedPaths().erase(held);
    held.clear();
}
