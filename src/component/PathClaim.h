// PathClaim: a local path that one task of this process writes (or has laid out for a folder),
// held for as long as the claim lives, so that two tasks never write one file and a fresh task
// never takes a name that another task or a file on disk already has.
//
// A claim is owned by the object that writes the path (a transfer for one run, a folder record
// for its lifetime) and used by that owner's thread; the process-wide table of claimed paths
// behind it is guarded by a lock of its own, so claims on any threads never race.
#pragma once

#include <string>

class PathClaim {
public:
    PathClaim() = default;
    ~PathClaim();
    PathClaim(const PathClaim&) = delete;
    PathClaim& operator=(const PathClaim&) = delete;

    // Claims `path` itself; false when another claim holds it. An earlier claim is released.
    bool claim(const std::wstring& path);
    // Claims `path` when nothing exists there and no claim holds it, otherwise the first free
    // name beside it the way browsers number them: "name (1).ext", "name (2).ext", ...
    // Returns the path claimed, "" when none was free.
    std::wstring claimFree(const std::wstring& path);
    // Gives the path back; a claim that holds nothing does nothing.
    void release();

private:
    std::wstring held;  // the claimed path in the table's form; "" when nothing is held
};
