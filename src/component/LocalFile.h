// LocalFile: the local data file of one run of a transfer, held open and locked for the whole
// run. It is reached below the download folder without following a link (ConfinedFolder), and
// an OFD write lock on the file itself tells every other run, in this process or another
// (another page's host, `zelvorn get`), that it is being written: two runs never write one file.
//
// A new file is created exclusively under the first free name, so a name taken by anything (a
// file, a folder, a link, dangling or not) is never reused; a file this run created and then left
// without a byte is removed again at release().
//
// Owned by a transfer, on its worker thread only.
#pragma once

#include "support/ConfinedFolder.h"

#include <cstdint>
#include <string>

class LocalFile {
public:
    enum class Status {
        open,    // open and locked: the run may write it
        busy,    // another run (of any process) holds its lock; nothing was changed
        failed,  // it could not be opened or made; error() tells why
    };

    LocalFile() = default;
    ~LocalFile();
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // Opens the file at `relative` below `folder` for reading and writing without changing it,
    // creating it (empty) when it is missing. `likelyNew` (nothing was stored of it yet) tries
    // the creation first: one lookup fewer for each file of a fresh folder.
    Status open(const Dravik::IO::ConfinedFolder& folder, const std::string& relative, bool likelyNew = false);
    // Creates a new file named `name` (or the first free numbered name) in the directory
    // `directory` below `folder` ("" for the folder itself); `chosen` receives its relative path.
    Status create(const Dravik::IO::ConfinedFolder& folder, const std::string& directory, const std::wstring& name,
                  std::string& chosen);

    bool isOpen() const { return fd >= 0; }
    int descriptor() const { return fd; }
    // The file was made by this run (and is empty unless the run wrote it).
    bool isNew() const { return created; }
    // errno of the last failure.
    int error() const { return lastError; }
    // The file's size now; -1 when none is open.
    int64_t size() const;
    // The file's relative path still names this very file (it was not removed, renamed or
    // replaced since it was opened); `size`, when given, receives the file's size.
    bool stillThere(int64_t* size = nullptr) const;
    // Gives the file up: the lock goes, and a file this run created is removed again when it
    // is still empty and `keepEmpty` is false.
    void release(bool keepEmpty);

private:
    Status lock();
    Status failWith(int error);

    const Dravik::IO::ConfinedFolder* folder = nullptr;
    std::string relative;
    int fd = -1;
    bool created = false;
    int lastError = 0;
};
