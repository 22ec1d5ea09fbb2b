// GetTask: one download of `zelvorn get`, kept the way a page keeps a task: the command that queues
// it and, as the control's events arrive, what a page saves to resume it (the server's length, the
// local path, the stored length; for a folder the "init_end" layout with the progress of each
// file). That saved object lives in the task's sidecar from before the download starts until it
// completes, so a file of the download folder without a sidecar is a finished one.
//
// Owned by the get session for the command's run. Used on the command's thread until the control
// exists, then on the control's apartment thread only (events arrive there), then on the command's
// thread again once the control is gone.
#pragma once

#include "FolderListing.h"
#include "Sidecar.h"

#include <json/value.h>

#include <chrono>
#include <string>
#include <vector>

class GetTask {
public:
    enum class State { waiting, skipped, complete, failed, stopped };

    // What an event changed, for the session to show and keep.
    enum class Change {
        none,
        progress,   // bytes arrived: the saved lengths moved
        milestone,  // the saved object took a new shape (layout, name, length, a file completed)
        complete,   // the task completed; its sidecar is no longer needed
        failed,     // "down_error": errorCode() says why
        stopped,    // the run ended stopped; the saved object resumes it
    };

    // A file: `url` downloaded into `folder` (an absolute path).
    GetTask(int id, const std::string& folder, const std::string& url);
    // A folder laid out from `listing` inside `folder`.
    GetTask(int id, const std::string& folder, const FolderListing& listing);

    // Settles how the task starts: resumed from an intact sidecar; started afresh after a damaged
    // one (reported in `warnings`) or when there is none; skipped when there is none and its
    // download is already in the folder. A fresh start saves its sidecar first: when that fails
    // the task fails without being queued. Returns the command to queue, or null.
    Json::Value begin(std::vector<std::string>& notes, std::vector<std::string>& warnings);

    Change apply(const Json::Value& event);
    // The host gave up on the task (its state could not be kept); later events leave it failed.
    void markFailed() { current = State::failed; }

    // Writes the saved object to the sidecar; `force` writes it now, otherwise at most once a
    // second. False, with `error`, when it could not be written.
    bool keep(bool force, std::string& error);
    bool forget(std::string& error) { return sidecar.remove(error); }

    int id() const { return taskId; }
    State state() const { return current; }
    unsigned errorCode() const { return code; }
    const std::string& label() const { return name; }
    const std::string& sidecarPath() const { return sidecar.path(); }
    // The live line of a running task, from the texts of its last events.
    std::string progressLine() const;
    // Bytes stored and of the whole, as size texts ("1.20 MB of 3.00 MB").
    std::string sizeLine() const;
    // What failed and why, for a person.
    std::string failureLine() const;
    // Something of the download may be on disk: the sidecar is what resumes it.
    bool hasStored() const;

private:
    bool isFolder() const { return !listing.files().empty(); }
    Json::Value freshCommand() const;
    // The saved object fits this task: it names this URL or listing and only paths inside the
    // download folder, and its lengths can be resumed.
    bool fits(const Json::Value& saved, std::string& why) const;
    bool fitsFile(const Json::Value& saved, std::string& why) const;
    bool fitsFolder(const Json::Value& saved, std::string& why) const;
    bool inFolder(const std::string& path) const;
    void applyFileEvent(const std::string& event, const Json::Value& members, Change& change);
    void applyFolderEvent(const std::string& event, const Json::Value& members, Change& change);

    const int taskId;
    const std::string folder;  // the download folder
    const std::string url;     // a file's URL; "" for a folder
    const FolderListing listing;
    std::string name;  // shown to the user: the local name once known
    Sidecar sidecar;
    Json::Value saved;  // what a page keeps: the command's members, kept current
    State current = State::waiting;
    unsigned code = 0;
    std::string percent, speed, remaining;  // texts of the last "down_process"
    std::chrono::steady_clock::time_point lastKept;
};
