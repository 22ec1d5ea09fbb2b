// StaticFiles: the files `zelvorn serve` hands out: those of one folder (web/), by their plain
// names. A request target maps to a file only when every segment is a plain name (letters,
// digits, '.', '-', '_', no leading dot) and the file, its symbolic links followed, lies inside
// the folder, so nothing outside it is ever reached.
//
// Made once by the server; read-only afterwards, so any thread may ask it.
#pragma once

#include <filesystem>
#include <string>

class StaticFiles {
public:
    explicit StaticFiles(std::filesystem::path root);

    // The file for a request target ("/" is "/index.html"; a query is ignored), its links
    // resolved; empty when there is none.
    std::filesystem::path find(const std::string& target) const;
    // The Content-Type of a file, by its extension.
    static std::string contentType(const std::filesystem::path& file);

    const std::filesystem::path& root() const { return folder; }

private:
    std::filesystem::path folder;
    std::filesystem::path resolvedFolder;  // `folder` with its links resolved, when it exists
};
