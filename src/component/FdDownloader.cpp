#include "component/FdDownloader.h"

#include "component/Config.h"
#include "hosting/Protocol.h"
#include "log/Log.h"
#include "support/Text.h"

#include <algorithm>

namespace M = Protocol::Member;

FdDownloader::FdDownloader()
{
    kind = DownItem::kFolderKind;
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
    job->runThread.bindToCurrent();
    EventText begin;
    begin.string(M::pathLoc, toUtf8(folder->pathLoc)).flag(M::folder, true);
    job->sendEvent(folder, Protocol::Event::downBegin, begin);

    job->timer.start();                    // once for the run: a thread per file would cost more than the file
    Dravik::IO::ConfinedFolder downloads;  // opened once: every file of the run lies below it
    downloads.open(Config::instance().folder());
    // After a stop every remaining file still takes its step: a transfer ends at once and
    // counts as an error, an empty file is still created.
    ResumableTransfer::Result failure;  // the first file that failed, if any
    bool endsStopped = false;           // a failure that ends the run as a stopped run
    for (const auto& file : folder->files) {
        if (file->complete)
            continue;
        const auto result = job->downloadFile(folder, file, downloads);
        if (result.outcome == ResumableTransfer::Outcome::failed) {
            if (!failure.code)
                failure = result;
            endsStopped = endsStopped || result.endsAsStopped();
        }
    }

    job->timer.stop();

    const bool stopped = job->stopFlag->load();
    if (!stopped && failure.code) {
        job->sendError(folder, failure);
    } else if (!stopped) {
        EventText complete;
        complete.flag(M::all, true);
        job->sendEvent(folder, Protocol::Event::downComplete, complete);
    }
    endRun(job, folder, stopped || endsStopped);
}

ResumableTransfer::Result FdDownloader::downloadFile(const std::shared_ptr<FdDownItem>& folder,
                                                     const std::shared_ptr<DownItem>& file,
                                                     const Dravik::IO::ConfinedFolder& downloads)
{
    FdDownItem& f = *folder;
    const DownItem& d = *file;
    ResumableTransfer transfer(*file, stopFlag, downloads);
    transfer.http().connections = connections;
    transfer.hooks.progress = [&](unsigned long count) { onProgress(f, d, count); };
    transfer.hooks.length = [&](int64_t total, bool) {
        if (f.lenSvr <= 0)
            sendServerLength(total);
    };
    transfer.hooks.name = [&](const std::wstring& name) { onServerName(f, name); };
    transfer.hooks.begin = [&] { onBegin(f, d); };
    transfer.hooks.stored = [&](int64_t count) { onStored(f, d, count); };

    // A file the listing gives as empty is made without a request.
    const bool empty = file->lenSvr == 0;
    const auto result = empty ? transfer.createEmpty() : runTransfer(transfer);
    if (result.outcome == ResumableTransfer::Outcome::complete) {
        // An empty file's event comes before it counts: pages read "success" that way.
        if (!empty)
            ++folder->success;
        sendFileComplete(*folder, *file);
        if (empty)
            ++folder->success;
    } else {
        ++folder->errors;
    }
    if (stopFlag->load() && !empty)
        sendStopped(folder);
    return result;
}

void FdDownloader::onBegin(const FdDownItem& folder, const DownItem& file)
{
    EventText more;
    more.string(M::pathLoc, toUtf8(file.pathLoc));
    file.writeValidators(more);
    EventText event;
    event.string(M::pathLoc, toUtf8(folder.pathLoc)).flag(M::folder, false).object(M::file, fileMembers(file, more));
    sendEvent(item, Protocol::Event::downBegin, event);
}

void FdDownloader::onStored(FdDownItem& folder, const DownItem& file, int64_t count)
{
    runThread.check("FdDownloader::onStored");
    // The folder's count never passes its length (nor goes below 0 when a file restarts).
    folder.lenLoc = std::max<int64_t>(std::min<int64_t>(folder.lenLoc + count, folder.lenSvr), 0);
    if (count <= 0)
        return;
    const int64_t mark = lastPartMark.load();
    if (folder.lenLoc - mark >= static_cast<int64_t>(Config::instance().filePart.load())) {
        lastPartMark.store(folder.lenLoc);
        if (!stopFlag->load()) {
            EventText event;
            event.object(M::file, fileMembers(file));
            sendEvent(item, Protocol::Event::downPart, event);
        }
    }
}

void FdDownloader::onProgress(const FdDownItem& folder, const DownItem& file, unsigned long count)
{
    runThread.check("FdDownloader::onProgress");
    speed.store(meter.sample(folder.lenLoc + static_cast<int64_t>(count)));
    if (stopFlag->load())
        return;
    const int64_t lenLoc = file.lenLoc;
    EventText more;
    more.number(M::lenLoc, lenLoc)
        .string(M::percent, ProgressText::filePercentText(lenLoc, file.lenSvr))
        .string(M::sizeLoc, toUtf8(sizeText(lenLoc)));
    EventText event = progressMembers();
    event.object(M::file, fileMembers(file, more));
    sendEvent(item, Protocol::Event::downProcess, event);
}

void FdDownloader::onServerName(const FdDownItem& folder, const std::wstring& name)
{
    ZLOG("本地文件路径：" << toAnsi(folder.pathLoc));
    EventText event;
    event.string(M::nameSvr, toUtf8(name)).string(M::pathLoc, toUtf8(folder.pathLoc));
    sendEvent(item, Protocol::Event::downRecvName, event);
}

EventText FdDownloader::fileMembers(const DownItem& file, EventText more)
{
    more.number(M::id, file.id);
    return more;
}

void FdDownloader::sendFileComplete(const FdDownItem& folder, const DownItem& file)
{
    EventText event;
    event.flag(M::all, false).number(M::success, folder.success).object(M::file, fileMembers(file));
    sendEvent(item, Protocol::Event::downComplete, event);
}
