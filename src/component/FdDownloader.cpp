#include "component/FdDownloader.h"

#include "component/Config.h"
#include "log/Log.h"
#include "net/ConnectionCache.h"
#include "net/HttpDowner.h"
#include "support/Text.h"

#include <algorithm>

FdDownloader::FdDownloader() : connections(std::make_shared<ConnectionCache>())
{
    kind = 1;
}

FdDownloader::~FdDownloader() = default;

void FdDownloader::start()
{
    resetForRun();
    auto job = std::static_pointer_cast<FdDownloader>(Downloader::self());
    auto folder = std::static_pointer_cast<FdDownItem>(item);
    spawnRun([job, folder] { runFolder(job, folder); });
}

void FdDownloader::runFolder(std::shared_ptr<FdDownloader> job, std::shared_ptr<FdDownItem> folder)
{
    job->timer.start();
    Json::Value begin;
    begin["pathLoc"] = toUtf8(folder->pathLoc);
    begin["folder"] = true;
    job->sendEvent(folder, "down_begin", begin);

    const int32_t errorsBefore = folder->errors;
    const int32_t successBefore = folder->success;
    int transfers = 0;
    for (const auto& file : folder->files) {
        if (file->complete)
            continue;
        if (file->lenSvr == 0) {
            job->createEmptyFile(folder, file);
            continue;
        }
        ++transfers;
        job->downloadFile(folder, file);
    }
    job->timer.stop();

    const bool stopped = job->stopFlag->load();
    if (!stopped) {
        // A run whose every transfer failed says so; the folder-level completion that pages
        // rely on still follows as before.
        if (transfers > 0 && folder->errors - errorsBefore == transfers && folder->success == successBefore)
            job->sendError(folder, 1);
        if (folder->lenLoc > 0) {
            Json::Value complete;
            complete["all"] = true;
            job->sendEvent(folder, "down_complete", complete);
        }
    }

    // From here on the queue may start this job again: only local copies are used.
    auto done = job->doneEvent;
    job->finished(job);
    if (done)
        done->set();
    if (stopped)
        job->sendStopped(folder);
}

void FdDownloader::downloadFile(const std::shared_ptr<FdDownItem>& folder, const std::shared_ptr<DownItem>& file)
{
    file->lenLoc = settledOffset(*file);
    auto writer = std::make_shared<Dravik::IO::FileWriter>();
    const int64_t offset = file->lenLoc;
    const bool opened = writer->openWithMode(file->pathLoc, offset > 0 ? L"rb+" : L"wb");
    if (opened)
        writer->seek(offset, SEEK_SET);

    HttpDowner transfer;
    prepareTransfer(transfer);
    transfer.connections = connections;
    fileAborted = false;
    int64_t rangeFirst = -1;
    FdDownItem& f = *folder;
    DownItem& d = *file;
    transfer.onBodyStart.connect([&] {
        // Never append at the saved offset what does not start there: a 200 to a ranged
        // request is the whole file again, a 206 elsewhere is refused.
        if (transfer.statusCode == 200 && d.lenLoc > 0) {
            f.lenLoc = std::max<int64_t>(f.lenLoc - d.lenLoc, 0);
            d.lenLoc = 0;
            writer->close();
            if (!writer->openWithMode(d.pathLoc, L"wb")) {
                fileAborted = true;
                abortTransfer();
                return;
            }
        } else if (transfer.statusCode == 206 && rangeFirst != d.lenLoc) {
            fileAborted = true;
            abortTransfer();
            return;
        }
        onBegin(f, d);
    });
    transfer.onData.connect([&](char* bytes, unsigned long count) { onData(f, d, *writer, bytes, count); });
    transfer.onSent.connect([&](unsigned long count) { onProgress(f, d, count); });
    transfer.onContentLength.connect([&](int64_t size) { onContentLength(f, size); });
    transfer.onContentRange.connect([&](int64_t first, int64_t, int64_t) { rangeFirst = first; });
    transfer.onFileName.connect([&](const std::wstring& name) { onServerName(f, name); });
    setRequestHeaders(transfer, *file);

    const bool ok = opened && transfer.request(fromUtf8(file->fileUrl), L"");
    writer->close();
    clearAbortHook();

    const int status = transfer.status();
    if (!ok || (status != 200 && status != 206)) {
        ++folder->errors;
    } else if (!stopFlag->load() && file->lenLoc > 0 && file->lenLoc == file->lenSvr) {
        ++folder->success;
        sendFileComplete(*folder, *file);
    }
    if (stopFlag->load())
        sendStopped(folder);
}

void FdDownloader::createEmptyFile(const std::shared_ptr<FdDownItem>& folder, const std::shared_ptr<DownItem>& file)
{
    Dravik::IO::FileWriter writer;
    writer.openWithMode(file->pathLoc, L"wb");
    writer.close();
    sendFileComplete(*folder, *file);
    ++folder->success;  // after the event: its "success" does not count this file yet
}

void FdDownloader::onBegin(const FdDownItem& folder, const DownItem& file)
{
    Json::Value event;
    event["pathLoc"] = toUtf8(folder.pathLoc);
    event["folder"] = false;
    Json::Value more;
    more["pathLoc"] = toUtf8(file.pathLoc);
    event["file"] = fileMembers(file, more);
    sendEvent(item, "down_begin", event);
}

void FdDownloader::onData(FdDownItem& folder, DownItem& file, Dravik::IO::FileWriter& writer, const char* bytes,
                          unsigned long count)
{
    if (fileAborted)
        return;
    // Bytes count only once the file has them; a failed write ends this file as failed.
    if (!writer.write(bytes, static_cast<uint32_t>(count)) || !writer.flush()) {
        fileAborted = true;
        abortTransfer();
        return;
    }
    file.lenLoc += static_cast<int64_t>(count);
    folder.lenLoc = std::min<int64_t>(folder.lenLoc + static_cast<int64_t>(count), folder.lenSvr);
    const int64_t mark = lastPartMark.load();
    if (folder.lenLoc - mark >= static_cast<int64_t>(Config::instance().filePart.load())) {
        lastPartMark.store(folder.lenLoc);
        if (!stopFlag->load()) {
            Json::Value event;
            event["file"] = fileMembers(file);
            sendEvent(item, "down_part", event);
        }
    }
}

void FdDownloader::onProgress(const FdDownItem& folder, const DownItem& file, unsigned long count)
{
    speed.store(meter.sample(folder.lenLoc + static_cast<int64_t>(count)));
    if (stopFlag->load())
        return;
    Json::Value event = progressMembers();
    const int64_t lenLoc = file.lenLoc;
    Json::Value more;
    more["lenLoc"] = Json::Int64(lenLoc);
    more["percent"] = ProgressText::filePercentText(lenLoc, file.lenSvr);
    more["sizeLoc"] = toUtf8(sizeText(lenLoc));
    event["file"] = fileMembers(file, more);
    sendEvent(item, "down_process", event);
}

void FdDownloader::onContentLength(const FdDownItem& folder, int64_t size)
{
    if (folder.lenSvr > 0)
        return;
    Json::Value event;
    event["len"] = Json::Int64(size);
    event["size"] = toUtf8(sizeText(size));
    sendEvent(item, "down_recv_size", event);
}

void FdDownloader::onServerName(const FdDownItem& folder, const std::wstring& name)
{
    ZLOG("本地文件路径：" << toAnsi(folder.pathLoc));
    Json::Value event;
    event["nameSvr"] = toUtf8(name);
    event["pathLoc"] = toUtf8(folder.pathLoc);
    sendEvent(item, "down_recv_name", event);
}

Json::Value FdDownloader::fileMembers(const DownItem& file, Json::Value more)
{
    more["id"] = file.id;
    return more;
}

void FdDownloader::sendFileComplete(const FdDownItem& folder, const DownItem& file)
{
    Json::Value event;
    event["all"] = false;
    event["success"] = folder.success;
    event["file"] = fileMembers(file);
    sendEvent(item, "down_complete", event);
}
