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
    // `name` inside the folder, as a narrow string for C and POSIX calls.
    std::string file(const std::string& name) const { return (root / name).string(); }
    // The folder as a wide path with `tail` appended verbatim (any separators it holds).
    std::wstring wide(const std::wstring& tail) const { return root.wstring() + tail; }

    // Creates (or replaces) the file `name` in the folder with `bytes`, making the directories of a
    // relative path such as "a/b.bin"; returns its path.
    std::filesystem::path writeFile(const std::string& name, const std::string& bytes) const;
    // All bytes of a file ("" when it cannot be read).
    static std::string readFile(const std::filesystem::path& file);
    // `size` letters whose run repeats only every 6526 bytes (no power of two), so that bytes
    // misplaced by a block show.
    static std::string pattern(size_t size);

private:
    std::filesystem::path root;
};
