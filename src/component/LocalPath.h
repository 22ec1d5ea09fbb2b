// Where a new file task lands inside the download folder; its own file so that it can be fuzzed.
#pragma once

#include <string>

// Where a task without a path of its own goes: the custom name, else the server's, else a
// default, always inside the download folder.
std::wstring localPathFor(const std::wstring& folder, const std::wstring& custom, const std::wstring& serverName);
