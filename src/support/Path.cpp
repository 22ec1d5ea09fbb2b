#include "support/Path.h"

#include "support/Text.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

namespace {

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// Resolves "." and ".." and collapses repeated separators. ".." above the start of a
// relative path is kept; above the root of an absolute one it is dropped.
std::wstring canonical(const std::wstring& path)
{
    const bool absolute = !path.empty() && isSeparator(path[0]);
    std::vector<std::wstring> parts;
    std::wstring part;
    auto flush = [&] {
        if (part.empty() || part == L".") {
        } else if (part == L"..") {
            if (!parts.empty() && parts.back() != L"..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
        } else {
            parts.push_back(part);
        }
        part.clear();
    };
    for (wchar_t c : path) {
        if (isSeparator(c))
            flush();
        else
            part += c;
    }
    flush();
    std::wstring out = absolute ? L"/" : L"";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i)
            out += L'/';
        out += parts[i];
    }
    return out;
}

std::wstring withoutControlCharacters(std::wstring name)
{
    for (wchar_t& c : name)
        if (c < 0x20 || c == 0x7F)
            c = L'_';
    return name;
}

}  // namespace

std::wstring pathJoinConfined(const std::wstring& root, const std::wstring& relative)
{
    // Resolved as an absolute path, ".." stops at its top; the leading "/" is then dropped.
    const std::wstring inside = canonical(L"/" + withoutControlCharacters(relative));
    return pathJoin(root, inside.substr(1));
}

std::wstring plainFileName(const std::wstring& name)
{
    const std::wstring last = withoutControlCharacters(pathFileName(name));
    if (last == L"." || last == L"..")
        return std::wstring();
    return last;
}

std::wstring pathJoin(const std::wstring& dir, const std::wstring& name)
{
    if (dir.empty() || (!name.empty() && isSeparator(name[0])))
        return canonical(name);
    if (name.empty())
        return canonical(dir);
    return canonical(dir + L"/" + name);
}

std::wstring pathFileName(const std::wstring& path)
{
    const size_t pos = path.find_last_of(L"\\/");
    return pos == std::wstring::npos ? path : path.substr(pos + 1);
}

std::wstring pathExtension(const std::wstring& path)
{
    const std::wstring name = pathFileName(path);
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : name.substr(dot);
}

std::wstring nativePath(const std::wstring& path)
{
    std::wstring out = path;
    for (wchar_t& c : out)
        if (c == L'\\')
            c = L'/';
    return out;
}

std::string fileSystemPath(const std::wstring& path)
{
    return toUtf8(nativePath(path));
}

bool pathExists(const std::wstring& path)
{
    struct stat info;
    return !path.empty() && ::stat(fileSystemPath(path).c_str(), &info) == 0;
}

bool createDirectories(const std::wstring& dir)
{
    const std::string target = fileSystemPath(dir);
    if (target.empty())
        return false;
    for (size_t pos = 1; pos <= target.size(); ++pos) {
        if (pos == target.size() || target[pos] == '/') {
            const std::string prefix = target.substr(0, pos);
            if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat info;
    return ::stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int64_t fileSize(const std::wstring& path)
{
    struct stat info;
    if (path.empty() || ::stat(fileSystemPath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<int64_t>(info.st_size);
}
