// UserFolders: where the user's own folders are, as the XDG base-directory and user-dirs rules
// say: a variable that holds a relative path is ignored, as the rules require, and the home
// folder comes from $HOME, else from the password database.
//
// Stateless; any thread.
#pragma once

#include <filesystem>

namespace UserFolders {

std::filesystem::path home();
// $<variable> when it is an absolute path, else `fallback` below the home folder.
std::filesystem::path xdg(const char* variable, const char* fallback);
// The folder downloads go to: $XDG_DOWNLOAD_DIR, else XDG_DOWNLOAD_DIR of the user-dirs file
// ($XDG_CONFIG_HOME/user-dirs.dirs), else ~/Downloads.
std::filesystem::path downloads();

}  // namespace UserFolders
