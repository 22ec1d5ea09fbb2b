#include "FolderListing.h"

#include "BoundedRead.h"
#include "UrlFileName.h"
#include "hosting/Protocol.h"
#include "support/JsonText.h"
#include "support/Path.h"
#include "support/Text.h"

#include <limits>
#include <set>
#include <sstream>

namespace M = Protocol::Member;

namespace {

// A relative path whose every component is a plain name: nothing that climbs out of the folder,
// starts at the root or hides a separator of the other kind.
bool isPlainRelativePath(const std::string& path)
{
    if (path.empty() || path.front() == '/' || path.back() == '/')
        return false;
    std::istringstream components(path);
    for (std::string component; std::getline(components, component, '/');)
        if (component.empty() || toUtf8(plainFileName(fromUtf8(component))) != component)
            return false;
    return true;
}

}  // namespace

bool FolderListing::read(const std::string& file, std::string& error)
{
    // The listing becomes one command: it is held to the size of one.
    std::string text;
    if (!readBounded(file, Protocol::kMaxCommandBytes, text, error))
        return false;
    Json::Value listing;
    if (!parseJson(text, listing) || !listing.isObject()) {
        error = "is not a JSON object";
        return false;
    }
    const Json::Value& name = listing["name"];
    if (!name.isString() || name.asString().empty() ||
        toUtf8(plainFileName(fromUtf8(name.asString()))) != name.asString()) {
        error = "needs a \"name\" that is a plain folder name";
        return false;
    }
    folderName = name.asString();
    const Json::Value& list = listing["files"];
    if (!list.isArray() || list.empty()) {
        error = "needs a non-empty \"files\" array";
        return false;
    }
    entries.clear();
    totalSize = 0;
    std::set<std::string> paths;
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        if (!readFile(list[i], i, error))
            return false;
        const File& added = entries.back();
        if (!paths.insert(added.path).second) {
            error = "lists \"" + added.path + "\" twice";
            return false;
        }
        if (added.size > std::numeric_limits<int64_t>::max() - totalSize) {
            error = "sizes add up to more than a length can hold";
            return false;
        }
        totalSize += added.size;
    }
    return true;
}

bool FolderListing::readFile(const Json::Value& entry, size_t index, std::string& error)
{
    const std::string where = "file " + std::to_string(index) + ": ";
    if (!entry.isObject() || !entry["url"].isString()) {
        error = where + "needs a \"url\" string";
        return false;
    }
    const Json::Value& size = entry["size"];
    if (!size.isIntegral() || !size.isInt64() || size.asInt64() < 0) {
        error = where + "needs a \"size\" in bytes, 0 or more";
        return false;
    }
    File file;
    file.url = entry["url"].asString();
    file.size = size.asInt64();
    const Json::Value& path = entry["path"];
    if (!path.isNull() && !path.isString()) {
        error = where + "\"path\" is not a string";
        return false;
    }
    file.path = path.isString() ? path.asString() : urlFileName(file.url);
    if (!isPlainRelativePath(file.path)) {
        error = where + "\"path\" must stay inside the folder";
        return false;
    }
    entries.push_back(std::move(file));
    return true;
}

Json::Value FolderListing::command(int id) const
{
    Json::Value command;
    command[M::name] = Protocol::Command::addFolder;
    command[M::id] = id;
    command[M::nameLoc] = folderName;
    // No server-side prefix: each file's path is already relative to the folder.
    command[M::pathLoc] = "";
    command[M::lenSvr] = Json::Int64(totalSize);
    for (const auto& file : entries) {
        Json::Value entry;
        entry[M::pathLoc] = file.path;
        entry[M::fileUrl] = file.url;
        entry[M::lenSvr] = Json::Int64(file.size);
        command[M::files].append(entry);
    }
    return command;
}
