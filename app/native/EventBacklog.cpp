#include "EventBacklog.h"

#include "hosting/Protocol.h"
#include "support/JsonText.h"

namespace {

// Events longer than this are never progress: they are not read to find their task.
const size_t kMaxProgressBytes = 4096;

}  // namespace

void EventBacklog::push(std::string event)
{
    Entry entry;
    int task = -1;
    Json::Value parsed;
    if (event.size() <= kMaxProgressBytes && parseJson(event, parsed) && parsed.isObject()) {
        const std::string name = parsed[Protocol::Member::name].asString();
        entry.kind = name == Protocol::Event::downProcess ? Kind::process
                     : name == Protocol::Event::downPart  ? Kind::part
                                                          : Kind::other;
        if (parsed[Protocol::Member::id].isInt())
            task = parsed[Protocol::Member::id].asInt();
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        if (task < 0) {
            // An event of no known task: no progress merges across it.
            lastOfTask.clear();
        } else if (entry.kind != Kind::other && bytes >= mergeFrom) {
            const auto last = lastOfTask.find(task);
            if (last != lastOfTask.end() && last->second >= firstNumber) {
                Entry& waiting = entries[static_cast<size_t>(last->second - firstNumber)];
                if (waiting.kind == entry.kind) {
                    bytes = bytes - waiting.text.size() + event.size();
                    waiting.text = std::move(event);
                    return;
                }
            }
        }
        if (task >= 0)
            lastOfTask[task] = firstNumber + entries.size();
        bytes += event.size();
        entry.text = std::move(event);
        entries.push_back(std::move(entry));
    }
    changed.notify_all();
}

bool EventBacklog::pop(std::string& event)
{
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return !entries.empty() || closed; });
    if (entries.empty())
        return false;
    event = std::move(entries.front().text);
    entries.pop_front();
    ++firstNumber;
    bytes -= event.size();
    return true;
}

void EventBacklog::close()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        closed = true;
    }
    changed.notify_all();
}

void EventBacklog::done()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        writerDone = true;
    }
    changed.notify_all();
}

bool EventBacklog::waitDone(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, limit, [this] { return writerDone; });
}
