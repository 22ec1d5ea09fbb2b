#include "StaticFiles.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace {

bool plainName(const std::string& segment)
{
    if (segment.empty() || segment.front() == '.')
        return false;
    for (unsigned char c : segment)
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_')
            return false;
    return true;
}

}  // namespace

StaticFiles::StaticFiles(std::filesystem::path root) : folder(std::move(root))
{
    std::error_code error;
    resolvedFolder = std::filesystem::canonical(folder, error);
}

std::filesystem::path StaticFiles::find(const std::string& target) const
{
    std::string path = target.substr(0, target.find('?'));
    if (path.empty() || path.front() != '/')
        return {};
    if (path == "/")
        path = "/index.html";
    std::filesystem::path file = folder;
    for (size_t start = 1; start <= path.size();) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string segment = path.substr(start, end - start);
        if (!plainName(segment))
            return {};
        file /= segment;
        start = end + 1;
    }
    // A link inside the folder may point anywhere: only what stays inside is served.
    std::error_code error;
    const auto resolved = std::filesystem::canonical(file, error);
    if (error || resolvedFolder.empty() || !std::filesystem::is_regular_file(resolved, error))
        return {};
    const auto inside = std::mismatch(resolvedFolder.begin(), resolvedFolder.end(), resolved.begin(), resolved.end());
    if (inside.first != resolvedFolder.end())
        return {};
    return resolved;
}

std::string StaticFiles::contentType(const std::filesystem::path& file)
{
    static const std::map<std::string, std::string> types = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
    };
    auto type = types.find(file.extension().string());
    return type == types.end() ? "application/octet-stream" : type->second;
}
