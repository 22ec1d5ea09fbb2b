// ResumableTransfer: one run of one file's download, the transfer path that the file job and the
// folder job share. It settles the offset to resume from against the file on disk, asks the
// server for the rest, accepts an answer only when it continues the local file, writes the body
// block by block (each block on disk before it counts in the task's lenLoc) and judges the end.
//
// Made by a job on its worker thread for one file and one run, used and destroyed there: run()
// blocks that thread for the whole transfer and calls every hook on it. The job's stop() may end
// the transfer from any thread, through the shared stop flag and http().closeHandles() (the job's
// abort hook). The task's lengths and pathLoc are written here, on the worker thread only.
//
// What the run guarantees, whatever the server or the disk does:
// - a body is appended only at the offset it starts from: a 206 must start at lenLoc and, when
//   the page knows the length, carry that total; a 200 restarts the file from 0; anything else
//   fails with the local file untouched;
// - the local file is changed only once body bytes arrive (it may be created empty before);
// - lenLoc never counts a byte that is not on disk;
// - "complete" means the file at pathLoc is the one written and holds lenSvr bytes;
// - while the run writes its path, no other run of this process can claim it.
#pragma once

#include "component/DownItem.h"
#include "component/PathClaim.h"
#include "component/Protocol.h"
#include "net/HttpDowner.h"
#include "support/FileWriter.h"
#include "support/ThreadChecker.h"

#include <boost/atomic.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class ResumableTransfer {
public:
    using StopFlag = std::shared_ptr<boost::atomic<bool>>;

    // What the job is told as the run goes on; every hook is optional and runs on the worker.
    struct Hooks {
        // Progress of the request: bytes of the request sent, and 0 after every body block.
        std::function<void(unsigned long count)> progress;
        // An answer was accepted and the server's length of the file is `total`; `changed` when
        // the task had no length or another one (the task's lenSvr now holds `total`).
        std::function<void(int64_t total, bool changed)> length;
        // The server's name of the file, right after `length`. A job whose task has no pathLoc
        // settles one here with settleNewPath().
        std::function<void(const std::wstring& name)> name;
        // The local file is open at the task's lenLoc; body blocks follow.
        std::function<void()> begin;
        // `count` more bytes are on disk and counted in lenLoc. Negative: the server sent the
        // whole file again, lenLoc went back to 0 and those bytes no longer count.
        std::function<void(int64_t count)> stored;
    };

    enum class Outcome {
        complete,  // the file holds all lenSvr bytes
        failed,    // Result::code says why; lenLoc holds what is safely on disk
        stopped,   // the stop flag ended the run
    };
    struct Result {
        Outcome outcome = Outcome::failed;
        unsigned code = 0;       // the "down_error" code of a failed run
        bool bodyBegun = false;  // the answer was accepted and the body step had begun

        // The run ends as a stopped run ("down_stoped" last): a stop, a local-file failure, or
        // a failure once the body had begun (bytes may be on disk: the task stays resumable).
        bool endsAsStopped() const
        {
            return outcome == Outcome::stopped ||
                   (outcome == Outcome::failed && (bodyBegun || code == Protocol::kLocalFileFailed));
        }
    };

    ResumableTransfer(DownItem& file, StopFlag stopFlag);
    ResumableTransfer(const ResumableTransfer&) = delete;
    ResumableTransfer& operator=(const ResumableTransfer&) = delete;

    // The request, for the job's abort hook and its connection cache; set before run().
    HttpDowner& http() { return request; }
    Hooks hooks;

    // Runs the transfer from the task's saved state to its end.
    Result run();
    // For a task without pathLoc (from the name hook): claims `path`, or the first free name
    // beside it when a file exists there or another run writes it, and makes that the task's
    // pathLoc. False when no name was free.
    bool settleNewPath(const std::wstring& path);

private:
    // The saved lenLoc when the file on disk holds at least that many bytes and it does not
    // pass a known lenSvr; otherwise 0.
    static int64_t settledOffset(const DownItem& file);

    // Handlers of the request's notifications.
    void onName(const std::wstring& name);
    void onBodyStart();
    void onData(const char* bytes, unsigned long count);

    // Decides once, when the answer's headers are complete, whether it continues the local
    // file (and from where); a refused answer fails the run.
    bool acceptAnswer();
    // A 416 whose Content-Range total is the local length: the file was already whole.
    bool alreadyWhole();
    // Ends the transfer as failed with `code`; the first failure counts.
    void fail(unsigned code, const char* why);
    Result judge(bool requestOk);
    // The file on disk holds lenSvr bytes (longer files are cut to it): complete, else failed.
    Result completeOnDisk();
    // The written file is still at pathLoc and holds lenSvr bytes: complete, else failed.
    Result completeWritten();
    Result ended(Outcome outcome, unsigned code = 0);

    ThreadChecker worker;  // the thread that made the transfer runs it and gets every hook
    DownItem& file;
    StopFlag stopFlag;
    HttpDowner request;
    PathClaim claim;
    Dravik::IO::FileWriter writer;

    int64_t requestedFrom = 0;  // lenLoc when the request was sent
    int64_t contentLength = 0;
    bool hasRange = false;  // the answer had a Content-Range that could be read
    int64_t rangeFirst = 0;
    int64_t rangeTotal = 0;
    bool answerChecked = false;
    bool answerAccepted = false;
    int64_t writeFrom = 0;  // where the accepted answer's body goes: lenLoc or 0
    bool bodyBegun = false;
    bool truncatePending = false;  // bytes past lenLoc are cut at the first block (or the end)
    unsigned failure = 0;
};
