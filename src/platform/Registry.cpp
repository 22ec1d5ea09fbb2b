#include "platform/Registry.h"

#include "platform/AtomicFile.h"
#include "support/Text.h"
#include "support/UserFolders.h"

#include <json/reader.h>
#include <json/writer.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

// A hive file holds one key object: {"values": {name: text, ...}, "keys": {name: key, ...}};
// either member may be missing.
namespace {

const char* const kValues = "values";
const char* const kKeys = "keys";

std::vector<std::string> splitPath(const std::wstring& path)
{
    std::vector<std::string> parts;
    std::wstring part;
    for (wchar_t c : path + L"\\") {
        if (c != L'\\') {
            part += c;
        } else if (!part.empty()) {
            parts.push_back(toUtf8(part));
            part.clear();
        }
    }
    return parts;
}

bool sameName(const std::string& a, const std::string& b)
{
    auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

// Finds the member of `object` whose name matches `name` and gives its spelling in `spelled`.
bool memberNamed(const Json::Value& object, const std::string& name, std::string& spelled)
{
    if (!object.isObject())
        return false;
    for (const auto& member : object.getMemberNames())
        if (sameName(member, name)) {
            spelled = member;
            return true;
        }
    return false;
}

bool isKey(const Json::Value& key)
{
    if (!key.isObject())
        return false;
    for (const auto& member : key.getMemberNames())
        if (member != kValues && member != kKeys)
            return false;
    const Json::Value& values = key[kValues];
    if (!values.isNull()) {
        if (!values.isObject())
            return false;
        for (const auto& value : values)
            if (!value.isString())
                return false;
    }
    const Json::Value& keys = key[kKeys];
    if (!keys.isNull()) {
        if (!keys.isObject())
            return false;
        for (const auto& sub : keys)
            if (!isKey(sub))
                return false;
    }
    return true;
}

HRESULT errnoResult(uint32_t otherwise)
{
    if (errno == EACCES || errno == EPERM || errno == EROFS)
        return E_ACCESSDENIED;
    return HRESULT_FROM_WIN32(otherwise);
}

std::string folderOf(const std::string& file)
{
    std::string folder = std::filesystem::path(file).parent_path().string();
    return folder.empty() ? "." : folder;
}

// Closes a descriptor when the scope ends.
struct FileDescriptor {
    int fd;
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace

std::string Registry::hiveFile(Hive hive)
{
    const char* named = std::getenv(hive == Hive::Machine ? "ZELVORN_REGISTRY_MACHINE" : "ZELVORN_REGISTRY_USER");
    if (named && *named)
        return named;
    if (hive == Hive::Machine)
        return "/etc/zelvorn/registry.json";
    return (UserFolders::xdg("XDG_CONFIG_HOME", ".config") / "zelvorn" / "registry.json").string();
}

HRESULT Registry::open(const std::string& file, Registry& out)
{
    out.file = file;
    out.root = Json::Value(Json::objectValue);
    FileDescriptor in{::open(file.c_str(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0)
        return errno == ENOENT ? S_OK : errnoResult(ERROR_CANTREAD);
    std::string text;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(in.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errnoResult(ERROR_CANTREAD);
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &errors) || !isKey(parsed))
        return HRESULT_FROM_WIN32(ERROR_BADDB);
    out.root = std::move(parsed);
    return S_OK;
}

HRESULT Registry::edit(const std::string& file, const std::function<HRESULT(Registry&)>& change)
{
    const std::string folder = folderOf(file);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    FileDescriptor lock{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (lock.fd < 0)
        return errnoResult(ERROR_CANTWRITE);
    // Another process editing the same hive waits here, so neither loses the other's keys.
    while (::flock(lock.fd, LOCK_EX) != 0)
        if (errno != EINTR)
            return errnoResult(ERROR_CANTWRITE);
    Registry hive;
    HRESULT hr = open(file, hive);
    if (FAILED(hr))
        return hr;
    hr = change(hive);
    if (FAILED(hr))
        return hr;
    hr = hive.save();
    if (FAILED(hr))
        return hr;
    // The rename itself is made durable with the folder.
    ::fsync(lock.fd);
    return S_OK;
}

HRESULT Registry::save() const
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    const std::string text = Json::writeString(builder, root) + "\n";

    // The machine hive is read by every user: the file is readable by all.
    std::string why;
    return AtomicFile::write(file, text, 0644, why) ? S_OK : errnoResult(ERROR_CANTWRITE);
}

const Json::Value* Registry::find(const std::wstring& path) const
{
    const Json::Value* key = &root;
    std::string spelled;
    for (const auto& part : splitPath(path)) {
        const Json::Value& keys = (*key)[kKeys];
        if (!memberNamed(keys, part, spelled))
            return nullptr;
        key = &keys[spelled];
    }
    return key;
}

Json::Value* Registry::findOrCreate(const std::wstring& path)
{
    Json::Value* key = &root;
    std::string spelled;
    for (const auto& part : splitPath(path)) {
        Json::Value& keys = (*key)[kKeys];
        if (!memberNamed(keys, part, spelled))
            spelled = part;
        key = &keys[spelled];
        if (key->isNull())
            *key = Json::Value(Json::objectValue);
    }
    return key;
}

HRESULT Registry::queryValue(const std::wstring& key, const std::wstring& name, std::wstring* data) const
{
    if (!data)
        return E_POINTER;
    const Json::Value* found = find(key);
    std::string spelled;
    if (!found || !memberNamed((*found)[kValues], toUtf8(name), spelled))
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    *data = fromUtf8((*found)[kValues][spelled].asString());
    return S_OK;
}

bool Registry::hasKey(const std::wstring& key) const
{
    return find(key) != nullptr;
}

void Registry::createKey(const std::wstring& key)
{
    findOrCreate(key);
}

void Registry::setValue(const std::wstring& key, const std::wstring& name, const std::wstring& data)
{
    Json::Value& values = (*findOrCreate(key))[kValues];
    std::string spelled;
    if (!memberNamed(values, toUtf8(name), spelled))
        spelled = toUtf8(name);
    values[spelled] = toUtf8(data);
}

std::vector<std::wstring> Registry::subkeys(const std::wstring& key) const
{
    std::vector<std::wstring> names;
    const Json::Value* found = find(key);
    if (found && (*found)[kKeys].isObject())
        for (const auto& name : (*found)[kKeys].getMemberNames())
            names.push_back(fromUtf8(name));
    return names;
}

bool Registry::deleteTree(const std::wstring& key)
{
    std::wstring path = key;
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    const size_t cut = path.find_last_of(L'\\');
    const std::string name = toUtf8(cut == std::wstring::npos ? path : path.substr(cut + 1));
    // find() walks the tree without adding to it; the key it gives is part of `root`.
    auto* parent = const_cast<Json::Value*>(find(cut == std::wstring::npos ? L"" : path.substr(0, cut)));
    std::string spelled;
    if (name.empty() || !parent || !memberNamed(std::as_const(*parent)[kKeys], name, spelled))
        return false;
    (*parent)[kKeys].removeMember(spelled);
    return true;
}
