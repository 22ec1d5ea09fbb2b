// FolderListing: a folder for `zelvorn get --folder`, read from a JSON file:
//
//   {"name": "docs",
//    "files": [{"url": "http://host/docs/a.txt", "size": 40000},
//              {"url": "http://host/docs/sub/b.txt", "size": 123, "path": "sub/b.txt"}]}
//
// "name" is the folder made in the download folder; each file has its URL, its size in bytes (0
// for an empty file, made without a request) and optionally its path inside the folder ("/"
// between names; the URL's file name when absent). It becomes one "add_folder" command.
//
// A value owned by the get command; read once, then only read. Any thread.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

class FolderListing {
public:
    struct File {
        std::string url;
        std::string path;  // relative, "/" between plain names
        int64_t size = 0;
    };

    // Reads the listing in `file`. False, with `error` saying what is wrong, when the file cannot
    // be read or is no listing: a member missing or of the wrong type, a name or path that would
    // leave its folder, two files with one path, no files at all.
    bool read(const std::string& file, std::string& error);

    const std::string& name() const { return folderName; }
    const std::vector<File>& files() const { return entries; }
    // The "add_folder" command of a folder not begun yet, with task id `id`.
    Json::Value command(int id) const;

private:
    bool readFile(const Json::Value& entry, size_t index, std::string& error);

    std::string folderName;
    std::vector<File> entries;
    int64_t totalSize = 0;  // of every file; the folder's length
};
