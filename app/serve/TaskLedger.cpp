#include "TaskLedger.h"

#include "hosting/Protocol.h"
#include "support/JsonText.h"

#include <algorithm>

namespace P = Protocol;

namespace {

// The events a page needs to save a task, in the order they are told again.
const char* const kStory[] = {P::Event::initEnd, P::Event::downRecvSize, P::Event::downRecvName, P::Event::downProcess};

bool taskId(const Json::Value& message, int64_t& id)
{
    const Json::Value& value = message[P::Member::id];
    if (!value.isInt64())
        return false;
    id = value.asInt64();
    return true;
}

std::string text(const Json::Value& value)
{
    return value.isString() ? value.asString() : "";
}

// What a task downloads: its URL, or the URLs of a folder's files.
std::string sourceOf(const Json::Value& command, bool folder)
{
    if (!folder)
        return text(command[P::Member::fileUrl]);
    std::string urls;
    const Json::Value& files = command[P::Member::files];
    if (files.isArray())
        for (const auto& file : files)
            urls += text(file[P::Member::fileUrl]) + '\n';
    return urls;
}

}  // namespace

TaskLedger::Verdict TaskLedger::command(const std::string& text, const EventOutbox& outbox)
{
    Json::Value command;
    if (!parseJson(text, command) || !command.isObject() || !command[P::Member::name].isString())
        return {};
    const std::string name = command[P::Member::name].asString();
    int64_t id = 0;
    if (name == P::Command::init) {
        const Json::Value& config = command[P::Member::config];
        if (!config.isObject() || config.empty())
            return {};
        Verdict verdict;
        for (auto& entry : tasks)
            if (entry.second.state == Task::State::waiting) {
                entry.second.state = Task::State::unsure;
                verdict.askRunning = true;
            }
        return verdict;
    } else if (name == P::Command::stopFile && taskId(command, id)) {
        auto task = tasks.find(id);
        if (task != tasks.end() && task->second.state == Task::State::waiting)
            tasks.erase(task);
    } else if ((name == P::Command::addFile || name == P::Command::addFolder) && taskId(command, id)) {
        const bool folder = name == P::Command::addFolder;
        return add(id, folder, sourceOf(command, folder), outbox);
    }
    return {};
}

TaskLedger::Verdict TaskLedger::add(int64_t id, bool folder, std::string source, const EventOutbox& outbox)
{
    Verdict verdict;
    auto known = tasks.find(id);
    if (known != tasks.end() && known->second.folder == folder && known->second.source == source) {
        Task& task = known->second;
        if (task.state != Task::State::ended || task.ended > outbox.acknowledged()) {
            verdict.forward = false;
            // Its ending was dropped unseen: the page hears it again. Otherwise it is still on
            // its way, or the task still waits or runs.
            if (task.state == Task::State::ended && !outbox.holds(task.ended)) {
                for (const char* name : kStory) {
                    auto told = task.story.find(name);
                    if (told != task.story.end())
                        verdict.replay.push_back(told->second);
                }
                verdict.replay.insert(verdict.replay.end(), task.endings.begin(), task.endings.end());
            }
            return verdict;
        }
    }
    Task& task = tasks[id];
    task = Task();
    task.folder = folder;
    task.source = std::move(source);
    return verdict;
}

void TaskLedger::event(const std::string& text, uint64_t number)
{
    Json::Value event;
    int64_t id = 0;
    if (!parseJson(text, event) || !event.isObject() || !taskId(event, id))
        return;
    auto known = tasks.find(id);
    if (known == tasks.end())
        return;
    Task& task = known->second;
    const std::string name = event[P::Member::name].isString() ? event[P::Member::name].asString() : "";
    // A folder's "down_complete" for one of its files does not end it.
    const bool ending = name == P::Event::downError || name == P::Event::downStopped ||
                        (name == P::Event::downComplete && (!task.folder || event[P::Member::all] == true));
    if (ending) {
        if (task.state != Task::State::ended)
            task.endings.clear();
        task.state = Task::State::ended;
        task.endings.push_back(text);
        task.ended = number;
        return;
    }
    if (task.state == Task::State::waiting || task.state == Task::State::unsure)
        task.state = Task::State::running;
    for (const char* kept : kStory)
        if (name == kept)
            task.story[name] = text;
}

void TaskLedger::settle(const std::vector<int64_t>& running)
{
    for (auto task = tasks.begin(); task != tasks.end();) {
        if (task->second.state != Task::State::unsure) {
            ++task;
        } else if (std::find(running.begin(), running.end(), task->first) != running.end()) {
            task->second.state = Task::State::running;  // taken by the queue before "init" came
            ++task;
        } else {
            task = tasks.erase(task);
        }
    }
}
