// FdDownloader: the folder job. Downloads the files of one folder task one after another on a
// worker thread of its own, each as one resumable transfer from its saved offset into its local
// file, and reports a folder-level "down_begin", per-file begin, progress, part and completion
// events, and at the end of the run one folder-level outcome: "down_complete" with "all": true
// when every file of the folder is complete, "down_error" when a file failed (followed by
// "down_stoped" when a failed file had begun writing, as the file job does), "down_stoped" when
// the page stopped it.
//
// Owned and driven by the task queue exactly as the file job it derives from; reused for later
// folder tasks. The folder's `lenLoc`, `errors`, `success` and each file's `lenLoc` are written
// by the worker thread only (the lengths are atomics, as the timer thread reads them).
#pragma once

#include "component/Downloader.h"
#include "component/FdDownItem.h"

class FdDownloader : public Downloader {
public:
    FdDownloader();
    ~FdDownloader() override;

    void start() override;

private:
    static void runFolder(std::shared_ptr<FdDownloader> job, std::shared_ptr<FdDownItem> folder);

    // One file's transfer (a file of length 0 is made without a request), counted as a success
    // or an error of the folder.
    ResumableTransfer::Result downloadFile(const std::shared_ptr<FdDownItem>& folder,
                                           const std::shared_ptr<DownItem>& file,
                                           const Dravik::IO::ConfinedFolder& downloads);

    // Transfer hooks, worker thread.
    void onBegin(const FdDownItem& folder, const DownItem& file);
    void onStored(FdDownItem& folder, const DownItem& file, int64_t count);
    void onProgress(const FdDownItem& folder, const DownItem& file, unsigned long count);
    void onServerName(const FdDownItem& folder, const std::wstring& name);

    // Per-file event members: {"id": index} plus `more`.
    static EventText fileMembers(const DownItem& file, EventText more = EventText());
    void sendFileComplete(const FdDownItem& folder, const DownItem& file);
};
