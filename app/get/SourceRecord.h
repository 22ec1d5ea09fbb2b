// SourceRecord: the lasting record that a download of `zelvorn get` finished whole, kept with the
// file (or a folder's directory) itself in the extended attribute "user.zelvorn.source": a JSON
// object naming its source (a file's URL, a listing's checksum), its length and, for a file, the
// server's validator. It outlives the sidecar and follows the file when it is renamed, so a
// later run skips a download only when its own record vouches for what is there, never for a
// file of the same name from elsewhere (a partial of curl or wget, another URL's file).
//
// Stateless; any thread.
#pragma once

#include <json/value.h>

#include <functional>
#include <string>

namespace SourceRecord {

// False, with `error`, when the file system keeps no such attribute (or the record is too long
// for it).
bool write(const std::string& path, const Json::Value& record, std::string& error);
// False when `path` has no record that can be read (links have none).
bool read(const std::string& path, Json::Value& record);

// The path of the first of `name`, "name (1)", "name (2)"... in `folder` (the names a new
// download takes beside what is there) whose record `vouches` for it; "" when none does. The
// search ends at the first name that is free.
std::string find(const std::string& folder, const std::string& name,
                 const std::function<bool(const std::string& path, const Json::Value& record)>& vouches);

}  // namespace SourceRecord
