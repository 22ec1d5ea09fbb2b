#include "GetSession.h"

#include "hosting/Protocol.h"
#include "support/JsonText.h"
#include "support/Text.h"

#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace M = Protocol::Member;

namespace {

// Names in `folder` shaped like the temporaries of a sidecar's snapshot ("x.zelvorn.AbC123"):
// read once, each task removes its own once it holds its sidecar.
std::vector<std::string> temporariesIn(const std::string& folder)
{
    std::vector<std::string> found;
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return found;
    const std::string marker = ".zelvorn.";
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() > marker.size() + 6 &&
            name.compare(name.size() - 6 - marker.size(), marker.size(), marker) == 0)
            found.push_back(name);
    }
    ::closedir(listing);
    return found;
}

std::string plural(size_t count, const char* one)
{
    return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

}  // namespace

GetSession::GetSession(std::vector<GetTask> list, std::string directory, ProgressView& progress)
    : tasks(std::move(list)), folder(std::move(directory)), view(progress)
{
}

int GetSession::run(const Json::Value& init, StopRequest& stop)
{
    const auto started = std::chrono::steady_clock::now();
    const std::vector<std::string> temporaries = temporariesIn(folder);
    std::vector<Json::Value> commands;
    for (auto& task : tasks) {
        std::vector<std::string> notes, warnings;
        Json::Value command = task.begin(temporaries, notes, warnings);
        for (const auto& line : warnings)
            view.error("zelvorn: " + line);
        for (const auto& line : notes)
            view.print(line);
        if (!command.isNull())
            commands.push_back(std::move(command));
    }

    const bool queued = !commands.empty() && !stop.signal();
    bool created = true;
    if (queued)
        runQueue(std::move(commands), init, stop, created);
    if (!created) {
        // Nothing was queued: sidecars that only say a download has begun say nothing true.
        std::string ignored;
        for (auto& task : tasks)
            if (task.state() == GetTask::State::waiting && !task.hasStored())
                task.forget(ignored);
        return 1;
    }

    bool failed = false;
    for (auto& task : tasks) {
        std::string error;
        if (!task.settle(error))
            view.error("zelvorn: " + task.label() + ": its state cannot be kept in " + task.sidecarPath() + ": " +
                       error);
        failed = failed || (task.state() != GetTask::State::complete && task.state() != GetTask::State::skipped);
    }
    if (queued)
        view.print(summary(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()));
    if (const int signal = stop.signal()) {
        view.error("zelvorn: interrupted; run the same command again to resume");
        return 128 + signal;
    }
    return failed ? 1 : 0;
}

void GetSession::runQueue(std::vector<Json::Value> commands, const Json::Value& init, StopRequest& stop, bool& created)
{
    auto hosted = HostedControl::create([this](std::string_view event) { onEvent(std::string(event)); });
    if (!hosted) {
        created = false;
        return;
    }
    control = hosted.get();
    stop.watch(hosted);
    hosted->post(writeCompactJson(init));
    while (!commands.empty()) {
        for (const auto& command : commands)
            hosted->post(writeCompactJson(command));
        // Posted as text: a folder's command is as large as its listing, and need not be kept
        // beside the control's own copy while the queue runs.
        commands.clear();
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
        if (stop.signal())
            break;
        for (auto& task : tasks) {
            std::string note;
            Json::Value again = task.restartCommand(note);
            if (!again.isNull()) {
                view.print(note);
                commands.push_back(std::move(again));
            } else if (!note.empty()) {
                view.error("zelvorn: " + note);
            }
        }
    }
    control = nullptr;
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
    switch (task.apply(std::move(event))) {
    case GetTask::Change::none:
        break;
    case GetTask::Change::progress:
        view.update(task.id(), task.progressLine());
        keep(task, false);
        break;
    case GetTask::Change::milestone:
        keep(task, true);
        break;
    case GetTask::Change::restarted:
        view.print(task.restartLine());
        keep(task, true);
        break;
    case GetTask::Change::complete:
        view.remove(task.id());
        view.print(task.label() + ": complete");
        if (!task.finish(error))
            view.error("zelvorn: " + task.label() + ": its record cannot be kept in " + task.sidecarPath() + ": " +
                       error);
        break;
    case GetTask::Change::failed:
        view.remove(task.id());
        if (!task.restartPending())
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

std::string GetSession::summary(double seconds) const
{
    size_t files = 0, failed = 0;
    int64_t bytes = 0;
    for (const auto& task : tasks) {
        files += static_cast<size_t>(task.filesCompleted());
        failed += task.state() == GetTask::State::failed ? 1 : 0;
        bytes += task.bytesReceived();
    }
    char time[32];
    std::snprintf(time, sizeof time, "%.1f s", seconds);
    const int64_t rate = seconds > 0 ? static_cast<int64_t>(static_cast<double>(bytes) / seconds) : bytes;
    return plural(files, "file") + " complete" + (failed ? ", " + plural(failed, "download") + " failed" : "") + ": " +
           toUtf8(sizeText(bytes)) + " in " + time + " (" + toUtf8(sizeText(rate)) + "/s)";
}
