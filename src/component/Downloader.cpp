#include "component/Downloader.h"

#include "component/Config.h"
#include "component/LocalPath.h"
#include "component/TaskMgr.h"
#include "hosting/Protocol.h"
#include "log/Log.h"
#include "platform/DeferredWake.h"
#include "support/Path.h"
#include "support/Text.h"

#include <chrono>

namespace {

int64_t wallClockMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::atomic<int> runsStarted{0};  // runs whose worker thread has not finished

}  // namespace

Downloader::Downloader()
    : stopFlag(std::make_shared<boost::atomic<bool>>(false)), progressText(item, speed),
      connections(std::make_shared<ConnectionCache>())
{
    timer.tick.connect([this] { onTick(); });
}

Downloader::~Downloader() = default;

std::shared_ptr<Downloader> Downloader::self()
{
    return shared_from_this();
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
    try {
        runner.run([body = std::move(body), thread = &runner] {
            body();
            // The wake-ups the run kept go out before it counts as ended, unless this thread
            // goes straight on to a run queued behind it: its events join the same burst, and
            // that run's end (or its first wait for the network) sends them.
            if (!thread->runQueuedBehind())
                DeferredWake::flush();
            --runsStarted;
            TaskMgr::instance().activityEnded();
        });
    } catch (...) {
        --runsStarted;
        throw;
    }
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
    std::lock_guard<std::mutex> lock(abortLock);
    if (abortHook) {
        abortHook();
        abortHook.clear();
    }
}

ResumableTransfer::Result Downloader::runTransfer(ResumableTransfer& transfer)
{
    {
        // Under the lock, so that stop() never calls into a request that is gone.
        std::lock_guard<std::mutex> lock(abortLock);
        HttpDowner& request = transfer.http();
        abortHook = [&request] { request.closeHandles(); };
    }
    const auto result = transfer.run();
    std::lock_guard<std::mutex> lock(abortLock);
    abortHook.clear();
    return result;
}

void Downloader::endRun(const std::shared_ptr<Downloader>& job, const std::shared_ptr<DownItem>& task, bool endsStopped)
{
    auto done = job->doneEvent;
    job->finished(job);
    if (done && !TaskMgr::instance().continueWithNext(job, done))
        done->set();
    if (endsStopped)
        job->sendStopped(task);
}

void Downloader::runJob(std::shared_ptr<Downloader> job, std::shared_ptr<DownItem> task)
{
    job->runThread.bindToCurrent();
    Downloader* self = job.get();
    Dravik::IO::ConfinedFolder downloads;
    downloads.open(Config::instance().folder());
    ResumableTransfer transfer(*task, job->stopFlag, downloads);
    transfer.http().connections = job->connections;
    transfer.hooks.progress = [self](unsigned long count) { self->onProgress(count); };
    transfer.hooks.length = [self](int64_t total, bool changed) {
        if (changed)
            self->sendServerLength(total);
    };
    transfer.hooks.name = [self, &transfer](const std::wstring& name) { self->onServerName(transfer, name); };
    transfer.hooks.begin = [self] {
        EventText event;
        self->item->writeValidators(event);
        self->sendEvent(self->item, Protocol::Event::downBegin, event);
    };
    transfer.hooks.stored = [self](int64_t count) { self->onStored(count); };

    const int64_t begin = wallClockMilliseconds();
    job->timer.start();
    const auto result = job->runTransfer(transfer);
    job->timer.stop();
    using Outcome = ResumableTransfer::Outcome;
    if (result.outcome == Outcome::complete) {
        const auto seconds = static_cast<int32_t>((wallClockMilliseconds() - begin) / 1000);
        job->sendComplete(ProgressText::durationText(seconds));
    } else if (result.outcome == Outcome::failed) {
        job->sendError(task, result);
    }
    endRun(job, task, result.endsAsStopped());
}

void Downloader::onStored(int64_t count)
{
    runThread.check("Downloader::onStored");
    if (count <= 0)
        return;
    const int64_t lenLoc = item->lenLoc;
    if (lenLoc - lastPartMark.load() >= static_cast<int64_t>(Config::instance().filePart.load())) {
        lastPartMark.store(lenLoc);
        if (!stopFlag->load())
            sendEvent(item, Protocol::Event::downPart);
    }
}

void Downloader::onProgress(unsigned long count)
{
    runThread.check("Downloader::onProgress");
    speed.store(meter.sample(item->lenLoc + static_cast<int64_t>(count)));
    if (!stopFlag->load())
        sendEvent(item, Protocol::Event::downProcess, progressMembers());
}

EventText Downloader::progressMembers() const
{
    namespace M = Protocol::Member;
    const int64_t lenLoc = item->lenLoc;
    const std::string size = toUtf8(sizeText(lenLoc));
    EventText event;
    event.string(M::percent, progressText.percentText())
        .string(M::time, progressText.remainingText())
        .number(M::lenLoc, lenLoc)
        .string(M::sizeLoc, size)
        .string(M::sizeRecv, size)
        .string(M::speed, progressText.speedText());
    return event;
}

void Downloader::onTick()
{
    speed.store(meter.sample(item->lenLoc));
}

void Downloader::sendServerLength(int64_t length)
{
    EventText event;
    event.number(Protocol::Member::len, length).string(Protocol::Member::size, toUtf8(sizeText(length)));
    item->writeValidators(event);
    sendEvent(item, Protocol::Event::downRecvSize, event);
}

void Downloader::onServerName(ResumableTransfer& transfer, const std::wstring& name)
{
    runThread.check("Downloader::onServerName");
    ZLOG("接收到服务器文件名称：" << toAnsi(name));
    item->nameSvr = name;
    std::wstring used = name;
    if (item->pathLoc.empty()) {
        // Anything already there keeps its name: this file is numbered.
        if (!transfer.settleNewPath(localNameFor(item->nameCustom, name)))
            return;
        used = pathFileName(item->pathLoc);
        ZLOG("本地文件路径：" << toAnsi(item->pathLoc));
    }
    EventText event;
    event.string(Protocol::Member::nameSvr, toUtf8(used)).string(Protocol::Member::pathLoc, toUtf8(item->pathLoc));
    sendEvent(item, Protocol::Event::downRecvName, event);
}

void Downloader::sendEvent(const std::shared_ptr<DownItem>& task, const char* name, EventText event)
{
    event.number(Protocol::Member::id, task->id).string(Protocol::Member::name, name);
    TaskMgr::instance().sendText(event.line());
}

void Downloader::sendComplete(const std::string& duration)
{
    EventText event;
    event.string(Protocol::Member::time, duration);
    sendEvent(item, Protocol::Event::downComplete, event);
}

void Downloader::sendError(const std::shared_ptr<DownItem>& task, const ResumableTransfer::Result& result)
{
    namespace M = Protocol::Member;
    ZLOG("下载错误");
    EventText event;
    event.number(M::code, result.code);
    if (result.status > 0)
        event.number(M::status, result.status);
    if (!result.reason.empty())
        event.string(M::reason, result.reason);
    sendEvent(task, Protocol::Event::downError, event);
}

void Downloader::sendStopped(const std::shared_ptr<DownItem>& task)
{
    sendEvent(task, Protocol::Event::downStopped);
}
