#include "SourceRecord.h"

#include "support/JsonText.h"
#include "support/Path.h"
#include "support/Text.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

namespace SourceRecord {

namespace {

const char* const kAttribute = "user.zelvorn.source";
// Numbered copies searched at most: a folder with more of one name is no place to guess in.
const uint64_t kMaxCopies = 10000;

}  // namespace

bool write(const std::string& path, const Json::Value& record, std::string& error)
{
    std::string text = writeCompactJson(record);
    text.pop_back();  // its line feed
    if (::lsetxattr(path.c_str(), kAttribute, text.data(), text.size(), 0) == 0)
        return true;
    error = std::strerror(errno);
    return false;
}

bool read(const std::string& path, Json::Value& record)
{
    const ssize_t size = ::lgetxattr(path.c_str(), kAttribute, nullptr, 0);
    if (size <= 0)
        return false;
    std::string text(static_cast<size_t>(size), '\0');
    const ssize_t got = ::lgetxattr(path.c_str(), kAttribute, &text[0], text.size());
    if (got < 0)
        return false;
    text.resize(static_cast<size_t>(got));
    return parseJson(text, record) && record.isObject();
}

std::string find(const std::string& folder, const std::string& name,
                 const std::function<bool(const std::string& path, const Json::Value& record)>& vouches)
{
    const std::wstring wide = fromUtf8(name);
    for (uint64_t n = 0; n <= kMaxCopies; ++n) {
        const std::string path = folder + "/" + (n == 0 ? name : toUtf8(numberedFileName(wide, n)));
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0)
            return "";
        Json::Value record;
        if (read(path, record) && vouches(path, record))
            return path;
    }
    return "";
}

}  // namespace SourceRecord
