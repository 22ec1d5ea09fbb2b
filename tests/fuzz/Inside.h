// The lexical check of the targets that join names to a folder: where a path lands, decided on
// its text alone, as the file system will read it.
#pragma once

#include <string>

// True when `path` is below `root` (or is `root`, when `orRoot`): it starts with `root` and a
// "/", and no component after that is "." or "..". `root` has no trailing "/".
inline bool insideRoot(const std::string& path, const std::string& root, bool orRoot = false)
{
    if (path == root)
        return orRoot;
    if (path.compare(0, root.size(), root) != 0 || path.size() <= root.size() + 1 || path[root.size()] != '/')
        return false;
    size_t start = root.size() + 1;
    for (;;) {
        const size_t end = path.find('/', start);
        const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part == "." || part == "..")
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

// Download folders as pages set them, with the file system's form of each.
struct FuzzRoot {
    const wchar_t* given;
    const char* native;
};
constexpr FuzzRoot kFuzzRoots[] = {
    {L"/srv/downloads", "/srv/downloads"},
    {L"D:\\Users\\Public\\Downloads\\", "D:/Users/Public/Downloads"},
    {L"/home/u/./dl/../Downloads/", "/home/u/Downloads"},
};
