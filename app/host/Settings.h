// Settings: the user's settings for hosts whose commands come from web pages and extensions,
// in $XDG_CONFIG_HOME/zelvorn/settings.json (ZELVORN_SETTINGS names another file):
//
//   {"downloadRoots": ["/srv/shared"],
//    "origins": {"http://127.0.0.1:8080": {"access": "allow", "downloadRoots": ["/home/u/Videos"]}}}
//
// "downloadRoots" are folders every page may download into, beside the user's download folder;
// each origin's "downloadRoots" are the folders the user picked for pages of that origin, and its
// "access" whether its pages may use `zelvorn serve` (OriginChoices). The machine's file,
// /etc/zelvorn/settings.json (ZELVORN_MACHINE_SETTINGS names another), holds "access" choices
// for every user. Read when a page's control is made; written when the user picks a folder. A
// missing file is empty settings; a damaged one is read as empty and never written over.
//
// Stateless; any thread. Writers of any process take a lock beside the file, and the file is
// replaced atomically, so no answer is lost and no reader sees half a file.
#pragma once

#include <json/value.h>

#include <functional>
#include <string>
#include <vector>

namespace Settings {

// The user's file and the machine's.
std::string path();
std::string machinePath();
// The object `file` holds: empty when there is no such file; empty, with why in `problem`, when
// it cannot be read or holds no JSON object.
Json::Value read(const std::string& file, std::string& problem);
// Applies `change` to the user's file and writes it atomically under the writers' lock, keeping
// every member `change` leaves alone. False, with why in `error`, when the file is damaged (it
// is left as it is, for the user to mend) or cannot be written.
bool edit(const std::function<void(Json::Value&)>& change, std::string& error);
// The folders pages of `origin` may download into: the user's download folder first (the
// folder of an "init" that names none), then the file's roots, then the origin's own.
std::vector<std::wstring> downloadRoots(const std::string& origin);
// Adds `folder` to the roots of `origin`; false, after a message on standard error, when the
// file cannot be written or is damaged.
bool rememberFolder(const std::string& origin, const std::wstring& folder);

}  // namespace Settings
