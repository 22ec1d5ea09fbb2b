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

// Control characters, and the bidirectional controls that can make a name display with a false
// extension ("txt.exe" shown as "exe.txt"), become "_".
std::wstring withoutControlCharacters(std::wstring name)
{
    for (wchar_t& c : name)
        if (c < 0x20 || c == 0x7F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069))
            c = L'_';
    return name;
}

size_t utf8Length(wchar_t c)
{
    const auto code = static_cast<uint32_t>(c);
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

size_t utf8Length(const std::wstring& text)
{
    size_t bytes = 0;
    for (wchar_t c : text)
        bytes += utf8Length(c);
    return bytes;
}

// Every name of a "/"-separated relative path fitted to the file system's limit.
std::wstring withFittedNames(const std::wstring& relative)
{
    std::wstring out;
    size_t at = 0;
    while (at <= relative.size()) {
        size_t end = relative.find(L'/', at);
        if (end == std::wstring::npos)
            end = relative.size();
        out += fitFileName(relative.substr(at, end - at));
        if (end < relative.size())
            out += L'/';
        at = end + 1;
    }
    return out;
}

}  // namespace

std::wstring pathJoinConfined(const std::wstring& root, const std::wstring& relative)
{
    // Resolved as an absolute path, ".." stops at its top; the leading "/" is then dropped.
    const std::wstring inside = canonical(L"/" + withoutControlCharacters(relative));
    return pathJoin(root, withFittedNames(inside.substr(1)));
}

std::wstring plainFileName(const std::wstring& name)
{
    const std::wstring last = withoutControlCharacters(pathFileName(name));
    if (last == L"." || last == L"..")
        return std::wstring();
    return fitFileName(last);
}

std::wstring fitFileName(const std::wstring& name, size_t maxBytes)
{
    if (utf8Length(name) <= maxBytes)
        return name;
    // The extension stays when it is short enough to leave room for some of the stem.
    std::wstring extension = pathExtension(name);
    if (extension.size() == name.size() || utf8Length(extension) > maxBytes / 2)
        extension.clear();
    std::wstring stem = name.substr(0, name.size() - extension.size());
    size_t bytes = utf8Length(stem) + utf8Length(extension);
    while (!stem.empty() && bytes > maxBytes) {
        bytes -= utf8Length(stem.back());
        stem.pop_back();
    }
    return stem + extension;
}

std::wstring numberedFileName(const std::wstring& name, uint64_t n)
{
    std::wstring extension = pathExtension(name);
    if (extension.size() == name.size())
        extension.clear();
    const std::wstring stem = name.substr(0, name.size() - extension.size());
    const std::wstring suffix = L" (" + std::to_wstring(n) + L")" + extension;
    const size_t suffixBytes = toUtf8(suffix).size();
    // The stem gives way: the number and the extension are what tell the copies apart.
    return fitFileName(stem, suffixBytes < 255 ? 255 - suffixBytes : 0) + suffix;
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
