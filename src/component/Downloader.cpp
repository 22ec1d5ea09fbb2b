#include "component/Downloader.h"

#include "component/Config.h"
#include "component/TaskMgr.h"
#include "log/Log.h"
#include "net/HttpDowner.h"
#include "net/HttpHeader.h"
#include "support/Path.h"
#include "support/Text.h"

#include <boost/thread/thread.hpp>

#include <chrono>

namespace {

int64_t wallClockMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// A file name from a server is reduced to one plain component before it meets the download
// folder, so that no server can write outside it.
std::wstring plainFileName(const std::wstring& name)
{
    const std::wstring last = pathFileName(name);
    if (last.empty() || last == L"." || last == L"..")
        return L"download";
    return last;
}

}  // namespace

Downloader::Downloader()
    : stopFlag(std::make_shared<boost::atomic<bool>>(false)), progressText(item, speed)
{
    timer.tick.connect([this] { onTick(); });
}

Downloader::~Downloader() = default;

std::shared_ptr<Downloader> Downloader::self()
{
    return shared_from_this();
}

namespace {
std::atomic<int> runsStarted{0};  // runs whose worker thread has not finished
}

void Downloader::start()
{
    resetForRun();
    auto job = self();
    auto task = item;
    spawnRun([job, task] { runJob(job, task); });
}

void Downloader::spawnRun(std::function<void()> body)
{
    ++runsStarted;
    boost::thread worker([body] {
        body();
        --runsStarted;
    });
    worker.detach();
}

int Downloader::runsInFlight()
{
    return runsStarted.load();
}

void Downloader::resetForRun()
{
    lastPartMark.store(0);
    meter.reset(0);
    stopFlag->exchange(false);
}

void Downloader::stop()
{
    ZLOG("停止任务");
    stopFlag->exchange(true);
    abortTransfer();
}

void Downloader::abortTransfer()
{
    std::lock_guard<std::mutex> lock(abortLock);
    if (abortHook) {
        abortHook();
        abortHook.clear();
    }
}

void Downloader::setAbortHook(HttpDowner& transfer)
{
    std::lock_guard<std::mutex> lock(abortLock);
    abortHook = [&transfer] { transfer.closeHandles(); };
}

void Downloader::clearAbortHook()
{
    std::lock_guard<std::mutex> lock(abortLock);
    abortHook.clear();
}

void Downloader::prepareTransfer(HttpDowner& transfer)
{
    setAbortHook(transfer);
    transfer.verb = L"GET";
    transfer.stopFlag = stopFlag;
}

void Downloader::setRequestHeaders(HttpDowner& transfer, const DownItem& task)
{
    HttpHeader header;
    header.removeHeader("Content-Type");
    header.removeHeader("Accept");
    header.setRange(task.lenLoc, task.lenSvr);
    header.setCookie(Config::instance().cookie());
    transfer.setHeaders(header.build());
}

int64_t Downloader::settledOffset(const DownItem& task)
{
    const int64_t saved = task.lenLoc;
    if (saved <= 0 || !pathExists(task.pathLoc) || saved > fileSize(task.pathLoc))
        return 0;
    return saved;
}

void Downloader::runJob(std::shared_ptr<Downloader> job, std::shared_ptr<DownItem> task)
{
    HttpDowner transfer;
    job->prepareTransfer(transfer);
    Downloader* self = job.get();
    transfer.onBodyStart.connect([self, &transfer] { self->onBegin(transfer.statusCode); });
    transfer.onSent.connect([self](unsigned long count) { self->onProgress(count); });
    transfer.onData.connect([self](char* bytes, unsigned long count) { self->onData(bytes, count); });
    transfer.onContentLength.connect([self](int64_t length) { self->onContentLength(length); });
    transfer.onContentRange.connect([self](int64_t first, int64_t last, int64_t) { self->onContentRange(first, last); });
    transfer.onFileName.connect([self](const std::wstring& name) { self->onServerName(name); });

    task->lenLoc = settledOffset(*task);
    setRequestHeaders(transfer, *task);
    job->rangeFirst = -1;

    const int64_t begin = wallClockMilliseconds();
    job->timer.start();
    const bool ok = transfer.request(fromUtf8(task->fileUrl), L"");
    job->timer.stop();
    if (job->writer) {
        job->writer->close();
        job->writer.reset();
    }
    job->clearAbortHook();

    const bool stopped = job->stopFlag->load();
    const int status = transfer.status();
    if (ok && (status == 200 || status == 206) && !stopped) {
        if (task->lenLoc > 0 && task->lenLoc == task->lenSvr) {
            const auto seconds = static_cast<int32_t>((wallClockMilliseconds() - begin) / 1000.0);
            job->sendComplete(ProgressText::durationText(seconds));
        }
    } else if (!stopped) {
        job->sendError(task, 1);
    }

    // From here on the queue may start this job again: only local copies are used.
    auto done = job->doneEvent;
    job->finished(job);
    if (done)
        done->set();
    if (stopped)
        job->sendStopped(task);
}

void Downloader::onBegin(int status)
{
    // A server that ignored our Range sends the whole file: it is written from the start
    // instead of being appended at the saved offset.
    if (status == 200 && item->lenLoc > 0)
        item->lenLoc = 0;
    // A partial answer that does not start where the file ends would put bytes at the wrong
    // offset: the run fails instead.
    if (status == 206 && rangeFirst != item->lenLoc) {
        abortTransfer();
        return;
    }
    writer = std::make_shared<Dravik::IO::FileWriter>();
    const int64_t offset = item->lenLoc;
    if (!writer->openWithMode(item->pathLoc, offset > 0 ? L"rb+" : L"wb")) {
        writer.reset();
        stop();
        sendError(item, 2);
        return;
    }
    writer->seek(offset, SEEK_SET);
    sendEvent(item, "down_begin");
}

void Downloader::onData(const char* bytes, unsigned long count)
{
    if (!writer)
        return;
    // Bytes count only once the file has them: a failed write or flush ends the run as a
    // local-file failure with `lenLoc` at the last byte written.
    if (!writer->write(bytes, static_cast<uint32_t>(count)) || !writer->flush()) {
        writer->close();
        writer.reset();
        stop();
        sendError(item, 2);
        return;
    }
    item->lenLoc += static_cast<int64_t>(count);
    const int64_t mark = lastPartMark.load();
    if (item->lenLoc - mark >= static_cast<int64_t>(Config::instance().filePart.load())) {
        lastPartMark.store(item->lenLoc);
        sendPart();
    }
}

void Downloader::onProgress(unsigned long count)
{
    speed.store(meter.sample(item->lenLoc + static_cast<int64_t>(count)));
    Json::Value event = progressMembers();
    if (!stopFlag->load())
        sendEvent(item, "down_process", event);
}

Json::Value Downloader::progressMembers() const
{
    Json::Value event;
    const int64_t lenLoc = item->lenLoc;
    const std::string size = toUtf8(sizeText(lenLoc));
    event["percent"] = progressText.percentText();
    event["time"] = progressText.remainingText();
    event["lenLoc"] = Json::Int64(lenLoc);
    event["sizeLoc"] = size;
    event["sizeRecv"] = size;
    event["speed"] = progressText.speedText();
    return event;
}

void Downloader::onTick()
{
    speed.store(meter.sample(item->lenLoc));
}

void Downloader::onContentLength(int64_t length)
{
    if (item->lenSvr > 0)
        return;
    item->lenSvr = length;
    Json::Value event;
    event["len"] = Json::Int64(length);
    event["size"] = toUtf8(sizeText(length));
    sendEvent(item, "down_recv_size", event);
}

void Downloader::onContentRange(int64_t first, int64_t)
{
    rangeFirst = first;
}

void Downloader::onServerName(const std::wstring& name)
{
    ZLOG("接收到服务器文件名称：" << toAnsi(name));
    item->nameSvr = name;
    std::wstring used = name;
    if (item->pathLoc.empty()) {
        used = item->nameCustom.empty() ? plainFileName(name) : item->nameCustom;
        item->pathLoc = pathJoin(Config::instance().folder(), used);
        ZLOG("本地文件路径：" << toAnsi(item->pathLoc));
    }
    Json::Value event;
    event["nameSvr"] = toUtf8(used);
    event["pathLoc"] = toUtf8(item->pathLoc);
    sendEvent(item, "down_recv_name", event);
}

void Downloader::sendEvent(const std::shared_ptr<DownItem>& task, const char* name, Json::Value event)
{
    event["id"] = task->id;
    event["name"] = name;
    TaskMgr::instance().sendEvent(event);
}

void Downloader::sendComplete(const std::string& duration)
{
    Json::Value event;
    event["time"] = duration;
    sendEvent(item, "down_complete", event);
}

void Downloader::sendError(const std::shared_ptr<DownItem>& task, unsigned code)
{
    ZLOG("下载错误");
    Json::Value event;
    event["code"] = code;
    sendEvent(task, "down_error", event);
}

void Downloader::sendPart()
{
    if (!stopFlag->load())
        sendEvent(item, "down_part");
}

void Downloader::sendStopped(const std::shared_ptr<DownItem>& task)
{
    sendEvent(task, "down_stoped");
}
