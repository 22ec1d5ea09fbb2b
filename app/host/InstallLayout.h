// InstallLayout: where this executable's own files are, found from the executable itself, so
// that an installed copy never reaches into the tree it was built in:
//
//   installed    PREFIX/bin/zelvorn   PREFIX/lib/zelvorn/libzelvorn2.so   PREFIX/share/zelvorn/web
//   build tree   build/app/zelvorn    build/app/libzelvorn2.so            build/app/web (a link to web/)
//
// The installed places win when both exist.
//
// Stateless; any thread.
#pragma once

#include <filesystem>

namespace InstallLayout {

// The running executable's real path (/proc/self/exe).
std::filesystem::path executable();
// The control's module that belongs to this executable.
std::filesystem::path module();
// The folder of the demo page and zelvorn.js.
std::filesystem::path webRoot();

}  // namespace InstallLayout
