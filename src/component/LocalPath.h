// Where a new file task lands inside the download folder; its own file so that it can be fuzzed.
#pragma once

#include <string>

// The path, relative to the download folder, of a task without a path of its own: the custom
// name (which may name subfolders), else the server's name, else "download". It never leaves
// the folder and never names the folder itself.
std::wstring localNameFor(const std::wstring& custom, const std::wstring& serverName);
