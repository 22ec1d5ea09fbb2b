// Dravik::IO::ConfinedFolder: a folder that downloads write below, opened once and then used as
// the only way in: every file and directory beneath it is reached from its descriptor without
// following a symbolic link and without leaving it, so a link planted in the folder (dangling or
// not, standing for a file or for a directory) can never redirect a write elsewhere.
//
// The folder's own path is opened once by open(), following the links the user may have put in
// it (~/Downloads pointing at another disk is the user's choice). Relative paths handed to the
// other members are "/"-separated names without "." or ".." parts, as a task's path relative to
// the folder is.
//
// Made by a job for a run (or shared by the transfers of one folder task's run) and used on the
// thread that made it only: resolved() keeps what it finds.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace Dravik {
namespace IO {

class ConfinedFolder {
public:
    ConfinedFolder() = default;
    ~ConfinedFolder();
    ConfinedFolder(const ConfinedFolder&) = delete;
    ConfinedFolder& operator=(const ConfinedFolder&) = delete;

    // Opens `path` ("\" or "/" separators; "" is the current directory), creating it and its
    // missing parents first. False with errno set when it cannot be opened as a directory.
    bool open(const std::wstring& path);
    bool isOpen() const { return dir >= 0; }
    // The folder as it was given, "/"-separated and with "." and ".." resolved.
    const std::wstring& given() const { return givenPath; }
    // The folder with every link in its path resolved ("" when the folder is not open).
    const std::wstring& resolved() const;

    // The path of `path` relative to this folder, when `path` lies below it as given or as
    // resolved; false when it lies elsewhere (or names the folder itself).
    bool relativeOf(const std::wstring& path, std::string& relative) const;
    // The full path, in the folder's given spelling, of a relative path below it.
    std::wstring pathOf(const std::string& relative) const;

    // Opens the file at `relative` with open(2) `flags` (O_CLOEXEC and O_NOFOLLOW are added);
    // with O_CREAT the missing directories on the way are made first. A link anywhere on the
    // way fails with ELOOP (or ENOTDIR). Returns the descriptor, or -1 with errno set.
    int openFile(const std::string& relative, int flags, mode_t mode = 0666) const;
    // Makes the directory `relative`, and its missing parents; false with errno EEXIST when
    // something is there already, so that exactly one caller makes it.
    bool makeDirectory(const std::string& relative) const;
    // What is at `relative` itself (a link is not followed); false with errno when nothing is.
    bool statAt(const std::string& relative, struct stat& info) const;
    // Removes the file (or, with `directory`, the empty directory) at `relative`.
    bool remove(const std::string& relative, bool directory = false) const;

private:
    // Opens the directory holding `relative`'s last name, making missing ones when `make`;
    // -1 with errno set on failure. `name` receives that last name.
    int openParent(const std::string& relative, bool make, std::string& name) const;

    int dir = -1;
    std::wstring givenPath;
    mutable std::wstring resolvedPath;  // found by resolved() on first need
};

}  // namespace IO
}  // namespace Dravik
