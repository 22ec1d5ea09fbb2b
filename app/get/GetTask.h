// GetTask: one download of `zelvorn get`, kept the way a page keeps a task: the command that queues
// it and, as the control's events arrive, what a page saves to resume it (the server's length, the
// local path, the stored length, the validator; for a folder the "init_end" layout with the
// progress of each file). That saved object lives in the task's sidecar, which the task holds
// (locked) for the whole run, from before the download starts until it completes; then the
// finished file (or folder) gets its lasting record (SourceRecord), and only a file that its own
// record vouches for counts as downloaded on a later run.
//
// Owned by the get session for the command's run. Used on the command's thread until the control
// exists, then on the control's apartment thread only (events arrive there), then on the command's
// thread again once the queue has ended.
#pragma once

#include "FolderListing.h"
#include "Sidecar.h"

#include <json/value.h>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

class GetTask {
public:
    enum class State { waiting, skipped, complete, failed, stopped };

    // What an event changed, for the session to show and keep.
    enum class Change {
        none,
        progress,   // the saved object moved on: kept at most once a second
        milestone,  // a path was chosen: kept at once
        restarted,  // the server sent the whole file again: the part on disk no longer counts
        complete,   // the task completed
        failed,     // "down_error": failureLine() says why
        stopped,    // the run ended stopped; the saved object resumes it (said once per run)
    };

    // A file: `url` downloaded into `folder` (an absolute path).
    GetTask(int id, const std::string& folder, const std::string& url);
    // A folder laid out from `listing` inside `folder`.
    GetTask(int id, const std::string& folder, const FolderListing& listing);

    // Settles how the task starts, with its sidecar claimed: resumed from an intact sidecar;
    // failed when another run holds it or writes the file; skipped when its own record vouches
    // for the finished download; otherwise started afresh, beside anything of its name that is
    // there. A fresh start saves its sidecar first: when that fails the task fails without being
    // queued. `temporaries` are file names in the download folder that look like a sidecar's
    // temporaries. Returns the command to queue, or null.
    Json::Value begin(const std::vector<std::string>& temporaries, std::vector<std::string>& notes,
                      std::vector<std::string>& warnings);

    // Takes what the event tells. An "init_end" gives its task object, the whole folder, to the
    // saved state, so `event` is moved from.
    Change apply(Json::Value&& event);
    // The host gave up on the task (its state could not be kept); later events leave it failed.
    void markFailed() { current = State::failed; }

    // Writes what changed of the saved object to the sidecar; `force` writes it whole, now,
    // otherwise at most once a second. False, with `error`, when it could not be written.
    bool keep(bool force, std::string& error);
    // After completion: records the download on the finished file (where the file system keeps no
    // record, the sidecar stays as the record) and removes the sidecar.
    bool finish(std::string& error);
    // Writes what the run left unsaved of a task that stored something (events after its stop).
    bool settle(std::string& error);
    // Removes the sidecar of a download that stored nothing.
    bool forget(std::string& error) { return sidecar.remove(error); }

    // The run ended refusing the server's part of a resumed file (the file changed on the
    // server): the command that downloads it again from 0, once, or null. Its sidecar is saved.
    Json::Value restartCommand(std::string& note);
    bool restartPending() const { return restartDue; }

    int id() const { return taskId; }
    State state() const { return current; }
    const std::string& label() const { return name; }
    const std::string& sidecarPath() const { return sidecar.path(); }
    // The live line of a running task, from the texts of its last events.
    std::string progressLine() const;
    // Bytes stored and of the whole, as size texts ("1.20 MB of 3.00 MB").
    std::string sizeLine() const;
    // What failed and why, for a person.
    std::string failureLine() const;
    // What started over after Change::restarted.
    std::string restartLine() const;
    // Something of the download may be on disk: the sidecar is what resumes it.
    bool hasStored() const;
    // Bytes stored and files completed in this command's run.
    int64_t bytesReceived() const { return received; }
    int filesCompleted() const { return completedFiles; }

private:
    bool isFolder() const { return !listing.files().empty(); }
    Json::Value freshCommand() const;
    Json::Value resumeCommand() const;
    // Starts from the saved object: checks what it claims against the disk first.
    Json::Value resume(std::vector<std::string>& notes, std::vector<std::string>& warnings);
    Json::Value claimAndStart(std::vector<std::string>& notes, std::vector<std::string>& warnings);
    // `raced`: the sidecar was missing, so another run may make it first.
    Json::Value startFresh(std::vector<std::string>& notes, std::vector<std::string>& warnings, bool raced);
    // The finished download that this task's record vouches for, when there is one; a folder
    // whose files are not all there any more is taken as saved, to fetch what is missing.
    bool findFinished(std::vector<std::string>& notes);
    // Marks the saved folder's files that are not there whole any more as not complete; their
    // count.
    size_t recheckCompleteFiles();
    // Another host (a page's) writes a file of the saved object now.
    bool writtenElsewhere() const;
    Json::Value record() const;
    bool vouches(const std::string& path, const Json::Value& found) const;
    // The saved object fits this task: it names this URL or listing and only paths inside the
    // download folder, and its lengths can be resumed.
    bool fits(const Json::Value& saved, std::string& why) const;
    bool fitsFile(const Json::Value& saved, std::string& why) const;
    bool fitsFolder(const Json::Value& saved, std::string& why) const;
    bool inFolder(const std::string& path) const;
    void applyFileEvent(const std::string& event, const Json::Value& members, Change& change);
    void applyFolderEvent(const std::string& event, Json::Value&& members, Change& change);
    void countStored(const Json::Value& lenLoc, int64_t& last, Change& change);
    // A file of the folder by its place in the path: "sub/b.txt".
    std::string folderFileName(const Json::Value& file) const;
    bool appendChanges(std::string& error);

    const int taskId;
    const std::string folder;  // the download folder
    const std::string url;     // a file's URL; "" for a folder
    const FolderListing listing;
    std::string name;  // shown to the user: the local name once known
    Sidecar sidecar;
    Json::Value saved;  // what a page keeps: the command's members, kept current
    State current = State::waiting;
    unsigned code = 0;                      // of "down_error"
    int status = 0;                         // of "down_error": the HTTP status, when the server answered
    std::string reason;                     // of "down_error"
    bool restartDue = false;                // the server's part of a resumed file was refused
    bool restarted = false;                 // started over once in this run already
    std::string restartedFile;              // of a folder, the file the server sent whole again
    std::string percent, speed, remaining;  // texts of the last "down_process"
    std::chrono::steady_clock::time_point lastKept;
    bool topChanged = false;                  // members of the saved object not yet in the sidecar
    std::set<Json::ArrayIndex> filesChanged;  // files of the saved folder not yet in the sidecar
    int64_t lastLength = 0;                   // the last "lenLoc" seen, of the task
    int64_t received = 0;
    int completedFiles = 0;
};
