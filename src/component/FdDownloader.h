// FdDownloader: the folder job. Downloads the files of one folder task one after another on a
// worker thread of its own, each with one GET from its saved offset into its local file, and
// reports a folder-level "down_begin", per-file begin, progress, part and completion events,
// and at the end the folder-level "down_complete" or "down_stoped".
//
// Owned and driven by the task queue exactly as the file job it derives from; reused for later
// folder tasks. The folder's `lenLoc`, `errors`, `success` and each file's `lenLoc` are written
// by the worker thread only (the lengths are atomics, as the timer thread reads them).
// The requests of the job share one connection cache, so a folder of many small files on one
// server pays for one connection, not one per file.
#pragma once

#include "component/Downloader.h"
#include "component/FdDownItem.h"

class ConnectionCache;

class FdDownloader : public Downloader {
public:
    FdDownloader();
    ~FdDownloader() override;

    void start() override;

private:
    static void runFolder(std::shared_ptr<FdDownloader> job, std::shared_ptr<FdDownItem> folder);

    // One file's transfer: counts it as an error or a success on the folder.
    void downloadFile(const std::shared_ptr<FdDownItem>& folder, const std::shared_ptr<DownItem>& file);
    // A file of length 0 is created without a request and counts as done.
    void createEmptyFile(const std::shared_ptr<FdDownItem>& folder, const std::shared_ptr<DownItem>& file);

    // Transfer handlers, worker thread.
    void onBegin(const FdDownItem& folder, const DownItem& file);
    void onData(FdDownItem& folder, DownItem& file, Dravik::IO::FileWriter& writer, const char* bytes,
                unsigned long count);
    void onProgress(const FdDownItem& folder, const DownItem& file, unsigned long count);
    void onContentLength(const FdDownItem& folder, int64_t size);
    void onServerName(const FdDownItem& folder, const std::wstring& name);

    // Per-file event members: {"id": index} plus `more`.
    static Json::Value fileMembers(const DownItem& file, Json::Value more = Json::Value(Json::objectValue));
    void sendFileComplete(const FdDownItem& folder, const DownItem& file);

    std::shared_ptr<ConnectionCache> connections;  // made by the constructor, then only read
    bool fileAborted = false;  // worker thread: the current file's transfer was ended by us
};
