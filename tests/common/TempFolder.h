// TempFolder: a fresh directory under the system's temporary folder for one test, removed with
// everything in it when the test's object goes out of scope. Used on the test's thread only.
#pragma once

#include <filesystem>
#include <string>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return root; }
    // The folder as a wide path with `tail` appended verbatim (any separators it holds).
    std::wstring wide(const std::wstring& tail) const { return root.wstring() + tail; }

private:
    std::filesystem::path root;
};
