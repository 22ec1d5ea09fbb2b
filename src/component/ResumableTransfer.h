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
// What the run guarantees, whatever the server, the page or the disk does:
// - a body is appended only at the offset it starts from and only when it is the rest of the
//   same file: a 206 must start at lenLoc, carry the known total, hold exactly the bytes of its
//   range, unencoded and not multipart, and agree with the saved validator (sent in If-Range);
//   a 200 restarts the file from 0; anything else fails with the local file untouched;
// - the local file is changed only once body bytes arrive (it may be created empty before, and
//   such a file is removed again when the run writes nothing);
// - lenLoc never counts a byte that is not on disk;
// - "complete" means the file at pathLoc is the one written and holds lenSvr bytes;
// - the file is reached below the download folder without following a link, and a host that
//   serves pages writes nowhere else (nor in a download folder the user did not allow);
// - while the run writes its file, no other run of any process can (an OFD lock on the file).
#pragma once

#include "component/DownItem.h"
#include "component/LocalFile.h"
#include "hosting/Protocol.h"
#include "net/HttpDowner.h"
#include "support/BlockWriter.h"
#include "support/ConfinedFolder.h"
#include "support/FileWriter.h"
#include "support/ThreadChecker.h"

#include <boost/atomic.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class ResumableTransfer : private HttpDowner::Receiver {
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
        int status = 0;          // a failed run's HTTP status, when the server answered
        std::string reason;      // why a run failed, in a few words ("Not Found", "Connection refused")

        // The run ends as a stopped run ("down_stoped" last): a stop, a local-file failure, or
        // a failure once the body had begun (bytes may be on disk: the task stays resumable).
        bool endsAsStopped() const
        {
            return outcome == Outcome::stopped ||
                   (outcome == Outcome::failed && (bodyBegun || code == Protocol::kLocalFileFailed));
        }
    };

    // `downloads` is the download folder, open, and outlives the transfer.
    ResumableTransfer(DownItem& file, StopFlag stopFlag, const Dravik::IO::ConfinedFolder& downloads);
    ResumableTransfer(const ResumableTransfer&) = delete;
    ResumableTransfer& operator=(const ResumableTransfer&) = delete;

    // The request, for the job's abort hook and its connection cache; set before run().
    HttpDowner& http() { return request; }
    Hooks hooks;

    // Runs the transfer from the task's saved state to its end.
    Result run();
    // For a file the server gives as empty: makes the file at pathLoc empty, without a request.
    Result createEmpty();
    // For a task without pathLoc (from the name hook): creates its file at `relative` below the
    // download folder, or under the first free name beside it when anything is there, and makes
    // that the task's pathLoc. False when no file could be made (the run then fails).
    bool settleNewPath(const std::wstring& relative);

private:
    // The saved lenLoc when the file on disk holds at least that many bytes and it does not
    // pass a known lenSvr; otherwise 0.
    int64_t settledOffset() const;
    // Opens and locks the task's file at pathLoc: below the download folder, or, for a host
    // whose commands come from the user, where pathLoc says. False (the run failed) otherwise.
    bool openLocal();
    // A host that serves pages writes only into a download folder the user allowed.
    bool folderAllowed();
    // The request headers of this run.
    std::string requestHeaders() const;
    // The answer's ETag and Last-Modified agree with the saved validator (or it has none).
    bool sameVersion() const;
    // Keeps the answer's strong ETag, or else its Last-Modified, as the task's validator.
    void keepValidator();

    // What the request tells (HttpDowner::Receiver). answered() judges the answer, settles the
    // name and opens the body's way to the file; received() writes a block.
    void sent(unsigned long bytes) override;
    bool answered(const HttpAnswer& answer) override;
    void received(std::vector<char>& block) override;
    void stored() override;

    // Whether the answer continues the local file (and from where); a refused answer fails the
    // run.
    bool acceptAnswer(const HttpAnswer& answer);
    // A 416 whose Content-Range total is the local length: the file was already whole.
    bool alreadyWhole();
    // Ends the transfer as failed with `code`; the first failure counts. `why` goes to the log,
    // `reason` to the page.
    void fail(unsigned code, const char* why, std::string reason);
    // fail() with the system's words for `error` (an errno).
    void failLocally(unsigned code, const char* why, int error);
    Result judge(bool requestOk);
    // The file on disk holds lenSvr bytes (longer files are cut to it): complete, else failed.
    Result completeOnDisk();
    // The written file is still at pathLoc and holds lenSvr bytes: complete, else failed.
    Result completeWritten();
    Result ended(Outcome outcome, unsigned code = 0);
    // Counts in lenLoc what the block writer has written since the last count.
    void countWritten();
    // Waits for the block writer's last block and counts it; fails the run when a write failed.
    void settleWriter();

    ThreadChecker worker;  // the thread that made the transfer runs it and gets every hook
    DownItem& file;
    StopFlag stopFlag;
    const Dravik::IO::ConfinedFolder& downloads;
    // The folder of a pathLoc outside the download folder, for hosts whose caller is the user.
    std::unique_ptr<Dravik::IO::ConfinedFolder> ownFolder;
    HttpDowner request;
    LocalFile local;
    Dravik::IO::FileWriter writer;
    // For a large body: writes on a thread of its own while the next block is read.
    std::unique_ptr<Dravik::IO::BlockWriter> blockWriter;
    int64_t counted = 0;  // bytes of blockWriter counted in lenLoc

    int64_t requestedFrom = 0;  // lenLoc when the request was sent
    int64_t writeFrom = 0;      // where the accepted answer's body goes: lenLoc or 0
    bool bodyBegun = false;
    bool truncatePending = false;  // bytes past lenLoc are cut at the first block (or the end)
    unsigned failure = 0;
    std::string failureReason;  // with `failure`
};
