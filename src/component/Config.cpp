#include "component/Config.h"

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
