#include "component/Config.h"

#include "support/Path.h"
#include "support/Text.h"

#include <climits>
#include <cstdlib>

Config& Config::instance()
{
    static Config* const config = new Config();  // outlives detached workers at exit
    return *config;
}

std::string Config::cookie() const
{
    std::lock_guard<std::mutex> guard(textLock);
    return cookieText;
}

void Config::setCookie(const std::string& text)
{
    std::lock_guard<std::mutex> guard(textLock);
    cookieText = text;
}

std::wstring Config::folder() const
{
    std::lock_guard<std::mutex> guard(textLock);
    return folderPath;
}

void Config::setFolder(const std::wstring& path)
{
    std::lock_guard<std::mutex> guard(textLock);
    folderPath = path;
}

void Config::confineTo(const std::vector<std::wstring>& roots, const std::wstring& logFolder)
{
    std::lock_guard<std::mutex> guard(textLock);
    confinedToRoots = true;
    allowed = roots;
    logFolderPath = logFolder;
}

void Config::unconfine()
{
    std::lock_guard<std::mutex> guard(textLock);
    confinedToRoots = false;
    allowed.clear();
    logFolderPath.clear();
}

bool Config::confined() const
{
    std::lock_guard<std::mutex> guard(textLock);
    return confinedToRoots;
}

void Config::allowRoot(const std::wstring& root)
{
    std::lock_guard<std::mutex> guard(textLock);
    allowed.push_back(root);
}

std::wstring Config::defaultRoot() const
{
    std::lock_guard<std::mutex> guard(textLock);
    return allowed.empty() ? std::wstring() : allowed.front();
}

std::wstring Config::logFolder() const
{
    std::lock_guard<std::mutex> guard(textLock);
    return logFolderPath;
}

bool Config::allowsFolder(const std::wstring& resolvedFolder) const
{
    std::vector<std::wstring> roots;
    {
        std::lock_guard<std::mutex> guard(textLock);
        roots = allowed;
    }
    for (const std::wstring& root : roots) {
        // A root that exists is compared with its links resolved, as the folder is.
        char real[PATH_MAX];
        const std::string native = fileSystemPath(pathJoin(root, L""));
        const std::wstring resolved = ::realpath(native.c_str(), real) ? fromUtf8(real) : pathJoin(root, L"");
        if (resolved.empty())
            continue;
        if (resolvedFolder == resolved ||
            (resolvedFolder.size() > resolved.size() && resolvedFolder.compare(0, resolved.size(), resolved) == 0 &&
             (resolved == L"/" || resolvedFolder[resolved.size()] == L'/')))
            return true;
    }
    return false;
}
