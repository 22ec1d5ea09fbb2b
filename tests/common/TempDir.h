// TempDir: a fresh directory under the system's temporary folder, removed with everything in it
// when the object is destroyed. Owned by one test (or harness); not shared between threads.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return root; }
    // `name` inside the directory.
    std::string file(const std::string& name) const { return root + "/" + name; }
    // Writes `content` to `name` inside the directory and returns its path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string root;
};
