// Sidecar: the small file beside a download in which `zelvorn get` keeps what a page saves of an
// unfinished task: the task object it sends back to resume. It is also the download's claim: the
// run that holds it keeps an OFD write lock on it from claim() to the end of the run, so that a
// second run of the same download, in any process, finds it taken; the holder writes its pid
// into it, as an OFD lock cannot name its holder.
//
// The content is lines of JSON. The first holds the whole task object (a snapshot) with a
// checksum; each later line a change (members set in the task or in one of its files) with a
// checksum of its own, appended so that a save costs what changed, not the whole task. A last
// line cut short (a kill while it was written) is dropped; any other line that does not fit
// makes the sidecar damaged. A snapshot replaces the file at once: a new file, locked before it
// is renamed over the old one, so the path is never without its lock while held.
//
// Owned by its task for the command's run; used on one thread at a time. The lock goes with the
// descriptor: when the sidecar is removed, or destroyed at the end of the run.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

class Sidecar {
public:
    enum class State {
        missing,  // nothing was saved: no file, or an empty one (held then)
        busy,     // another run holds it; holder() names it when it wrote its pid
        loaded,   // the saved task object, intact, held
        damaged,  // a file is there, but not one this program wrote whole; `why` says how
    };

    // The sidecar of a download named `name` in `folder`, for the task known by `key` (what names
    // it on the command line): "<name>.<8 hex digits of key>.zelvorn", so that two downloads of
    // one name never share a sidecar. A long name is shortened so that the sidecar's name, and
    // those of its temporaries, stay within the 255 bytes a file name may have.
    Sidecar(const std::string& folder, const std::string& name, const std::string& key);
    ~Sidecar();
    Sidecar(Sidecar&& other) noexcept;
    Sidecar(const Sidecar&) = delete;
    Sidecar& operator=(const Sidecar&) = delete;
    Sidecar& operator=(Sidecar&&) = delete;

    const std::string& path() const { return file; }
    // The file name of path() alone.
    std::string fileName() const;

    // Takes the sidecar for this run when it is there and free, and reads it.
    State claim(Json::Value& task, std::string& why);
    bool held() const { return fd >= 0; }
    // The pid written by the run that holds it (after busy); 0 when it wrote none.
    long holder() const { return holderPid; }

    // Writes `task` whole, as the new content. A sidecar not held is created, unless another run
    // made one meanwhile (false, errno EEXIST). False, with `error`, when it could not be written;
    // the previous content is then intact.
    bool save(const Json::Value& task, std::string& error);
    // One change: `members` set in the task, or with `fileIndex` >= 0 in that file of its "files"
    // (a null member is removed).
    struct Change {
        int fileIndex;
        Json::Value members;
    };
    // Appends `changes` in one write, a line each. Only while held. False, with `error`, when they
    // could not be written whole; none of them counts then, and save() puts the content right.
    bool append(const std::vector<Change>& changes, std::string& error);
    // Bytes of changes appended since the last snapshot, and the snapshot's own.
    size_t changeBytes() const { return journal; }
    size_t snapshotBytes() const { return snapshot; }
    // Removes the sidecar and gives up the claim. True when no sidecar is left.
    bool remove(std::string& error);
    // Removes this sidecar's temporaries among `names` (file names in its folder) that a run
    // killed while it wrote a snapshot left behind; only while held, when no one else can be
    // writing one.
    void removeTemporaries(const std::vector<std::string>& names) const;
    // Gives up the claim, leaving the file as it is.
    void release();

private:
    State read(Json::Value& task, std::string& why);

    std::string folderPath;
    std::string file;
    int fd = -1;  // open and locked while held
    long holderPid = 0;
    size_t snapshot = 0;  // bytes of the first line, its line feed included
    size_t journal = 0;   // bytes after it
};
