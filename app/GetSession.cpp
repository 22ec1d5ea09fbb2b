#include "GetSession.h"

#include "component/Protocol.h"
#include "support/JsonText.h"

namespace M = Protocol::Member;

GetSession::GetSession(std::vector<GetTask> list, ProgressView& progress) : tasks(std::move(list)), view(progress) {}

int GetSession::run(const Json::Value& init, StopRequest& stop)
{
    std::vector<Json::Value> commands;
    bool failed = false;
    for (auto& task : tasks) {
        std::vector<std::string> notes, warnings;
        Json::Value command = task.begin(notes, warnings);
        for (const auto& line : warnings)
            view.error("zelvorn: " + line);
        for (const auto& line : notes)
            view.print(line);
        if (!command.isNull())
            commands.push_back(command);
        failed = failed || task.state() == GetTask::State::failed;
    }

    if (!commands.empty() && !stop.signal()) {
        auto hosted = HostedControl::create([this](const std::string& event) { onEvent(event); });
        if (!hosted) {
            // Nothing was queued: sidecars that only say a download has begun say nothing true.
            std::string ignored;
            for (auto& task : tasks)
                if (!task.hasStored())
                    task.forget(ignored);
            return 1;
        }
        control = hosted.get();
        stop.watch(hosted);
        hosted->post(writeCompactJson(init));
        for (const auto& command : commands)
            hosted->post(writeCompactJson(command));
        // Checked on the apartment, where the signal thread's stop also runs: a stop asked at any
        // moment either keeps the queue from starting or stops it.
        hosted->onPage([&] {
            if (!stop.signal()) {
                Json::Value start;
                start[M::name] = Protocol::Command::startQueue;
                hosted->post(writeCompactJson(start));
            }
        });
        hosted->waitForQueueEnd();
    }

    if (const int signal = stop.signal()) {
        view.error("zelvorn: interrupted; run the same command again to resume");
        return 128 + signal;
    }
    for (const auto& task : tasks)
        failed = failed || (task.state() != GetTask::State::complete && task.state() != GetTask::State::skipped);
    return failed ? 1 : 0;
}

GetTask* GetSession::find(int id)
{
    for (auto& task : tasks)
        if (task.id() == id)
            return &task;
    return nullptr;
}

void GetSession::onEvent(const std::string& text)
{
    Json::Value event;
    if (!parseJson(text, event) || !event[M::id].isInt())
        return;
    GetTask* found = find(event[M::id].asInt());
    if (!found)
        return;
    GetTask& task = *found;
    std::string error;
    switch (task.apply(event)) {
    case GetTask::Change::none:
        break;
    case GetTask::Change::progress:
        view.update(task.id(), task.progressLine());
        keep(task, false);
        break;
    case GetTask::Change::milestone:
        keep(task, true);
        break;
    case GetTask::Change::complete:
        view.remove(task.id());
        view.print(task.label() + ": complete");
        if (!task.forget(error))
            view.error("zelvorn: " + task.sidecarPath() + " could not be removed: " + error);
        break;
    case GetTask::Change::failed:
        view.remove(task.id());
        view.error("zelvorn: " + task.failureLine());
        // Nothing stored: the sidecar that said the download had begun says nothing now.
        if (task.hasStored())
            keep(task, true);
        else
            task.forget(error);
        break;
    case GetTask::Change::stopped:
        view.remove(task.id());
        keep(task, true);
        if (task.state() == GetTask::State::stopped)
            view.print(task.label() + ": stopped at " + task.sizeLine() + "; run the same command again to resume");
        break;
    }
}

void GetSession::keep(GetTask& task, bool force)
{
    std::string error;
    if (task.keep(force, error) || task.state() == GetTask::State::failed)
        return;
    view.error("zelvorn: " + task.label() + ": stopped: its state cannot be kept in " + task.sidecarPath() + ": " +
               error);
    task.markFailed();
    Json::Value stop;
    stop[M::name] = Protocol::Command::stopFile;
    stop[M::id] = task.id();
    control->post(writeCompactJson(stop));
}
