// DownItem: the record of one file download task, read from and written back to the page's
// JSON task object.
//
// Made with std::make_shared by the command that reads it (or by a folder record for each of
// its files) and shared by that command, the task queue and the job running it; it dies with
// its last owner, normally when the job ends.
//
// Threads: fromJson runs once on the command's thread; afterwards the job's worker thread is
// the only writer, and the queue's lock orders that hand-over. `lenLoc` and `lenSvr` are also
// read by the job's timer thread and by the progress texts while the worker writes them, so they
// are atomics (whole 64-bit values, never torn). Every other field belongs to whichever thread
// currently writes the record.
#pragma once

#include "support/EventText.h"

#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <string>

class DownItem {
public:
    DownItem() = default;
    virtual ~DownItem() = default;
    DownItem(const DownItem&) = delete;
    DownItem& operator=(const DownItem&) = delete;

    // Fills the record from a task object. Members of a type the task format does not allow
    // throw the JSON library's conversion error (Json::LogicError family) out of here, part
    // way through; the caller then drops the record.
    virtual void fromJson(const Json::Value& task);
    // Writes the record's members into `task`, replacing members of the same names only.
    virtual void toJson(EventText& task) const;
    // Adds "etag" or "lastModified" to an event's `members` when the task has one.
    void writeValidators(EventText& members) const;

    // Task kinds; the queue picks the job type by it.
    static constexpr int32_t kFileKind = 0;
    static constexpr int32_t kFolderKind = 1;

    int32_t kind = kFileKind;
    bool complete = false;
    int32_t id = 0;
    int32_t idSvr = 0;               // carried from the page, never sent back
    std::atomic<int64_t> lenSvr{0};  // server length in bytes; 0 until known
    std::atomic<int64_t> lenLoc{0};  // bytes stored locally = offset of the next transfer
    std::wstring pathLoc;
    std::wstring nameSvr;  // set by the job from the server's answer
    std::wstring nameLoc;  // as the page sent it; toJson derives its own
    std::wstring nameCustom;
    std::string fileUrl;  // UTF-8, kept exactly as received
    // What tells the server's file from a later version of it: the strong ETag the first answer
    // carried, or else its Last-Modified, exactly as the server gave it; "" when none. Sent back
    // in If-Range, so that a resumed request gets the rest of this very file or the whole new one.
    std::string etag;
    std::string lastModified;
};
