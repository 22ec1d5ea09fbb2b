// Settings: the user's settings for hosts whose commands come from web pages and extensions,
// in $XDG_CONFIG_HOME/zelvorn/settings.json (ZELVORN_SETTINGS names another file):
//
//   {"downloadRoots": ["/srv/shared"],
//    "origins": {"http://127.0.0.1:8080": {"downloadRoots": ["/home/u/Videos"]}}}
//
// "downloadRoots" are folders every page may download into, beside the user's download folder;
// each origin's "downloadRoots" are the folders the user picked for pages of that origin.
// Read when a page's control is made; written when the user picks a folder. A missing file is
// empty settings; a damaged one is reported on standard error and read as empty.
//
// Stateless; any thread. Writers of any process take a lock beside the file, and the file is
// replaced atomically, so no answer is lost and no reader sees half a file.
#pragma once

#include <string>
#include <vector>

namespace Settings {

std::string path();
// The folders pages of `origin` may download into: the user's download folder first (the
// folder of an "init" that names none), then the file's roots, then the origin's own.
std::vector<std::wstring> downloadRoots(const std::string& origin);
// Adds `folder` to the roots of `origin`; false, after a message on standard error, when the
// file cannot be written.
bool rememberFolder(const std::string& origin, const std::wstring& folder);

}  // namespace Settings
