#include "SavedTasks.h"

#include "support/JsonText.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

int64_t sizeOnDisk(const std::string& path)
{
    struct stat info;
    return path.empty() || ::stat(path.c_str(), &info) != 0 ? 0 : static_cast<int64_t>(info.st_size);
}

}  // namespace

Json::Value SavedTasks::fileTask(int id, const std::string& url)
{
    Json::Value task;
    task["name"] = "add_file";
    task["id"] = id;
    task["fileUrl"] = url;
    return task;
}

std::string SavedTasks::commands(const std::string& downloads) const
{
    Json::Value init;
    init["name"] = "init";
    init["config"]["Folder"] = downloads;
    init["config"]["ThreadCount"] = 5;
    std::string text = writeCompactJson(init);
    for (const auto& task : tasks)
        if (!task.second.done)
            text += writeCompactJson(task.second.saved);
    return text + "{\"name\":\"start_queue\"}\n";
}

void SavedTasks::read(const std::string& line)
{
    Json::Value event;
    if (!parseJson(line, event) || !event.isObject()) {
        ADD_FAILURE() << "not an event: " << line;
        return;
    }
    const std::string name = event["name"].asString();
    const auto found = tasks.find(event.get("id", -1).asInt());
    if (found == tasks.end())
        return;
    Task& task = found->second;
    Json::Value& saved = task.saved;
    if (name == "down_error")
        errors.push_back(line);
    const bool file = !saved.isMember("files");
    if (name == "down_recv_size" && file)
        saved["lenSvr"] = event["len"];
    if (name == "down_recv_name" && file)
        saved["pathLoc"] = event["pathLoc"];
    // The server's validators, so that a resumed request asks for the rest of the same version.
    if ((name == "down_recv_size" || name == "down_begin") && file)
        for (const char* validator : {"etag", "lastModified"})
            if (event.isMember(validator))
                saved[validator] = event[validator];
    if (name == "init_end") {
        saved = event;
        saved["name"] = "add_folder";
    }
    if (name == "down_complete" && (file || event["all"].asBool()))
        task.done = true;
    if (name != "down_process")
        return;
    saved["lenLoc"] = event["lenLoc"];
    if (file) {
        expectOnDisk(saved, line);
        return;
    }
    const Json::ArrayIndex index = event["file"]["id"].asUInt();
    if (index < saved["files"].size()) {
        saved["files"][index]["lenLoc"] = event["file"]["lenLoc"];
        expectOnDisk(saved["files"][index], line);
    }
}

bool SavedTasks::finished() const
{
    for (const auto& task : tasks)
        if (!task.second.done)
            return false;
    return true;
}

void SavedTasks::expectAllOnDisk() const
{
    for (const auto& task : tasks) {
        const Json::Value& saved = task.second.saved;
        if (!saved.isMember("files"))
            expectOnDisk(saved, "task " + std::to_string(task.first));
        for (const Json::Value& file : saved["files"])
            expectOnDisk(file, "folder " + std::to_string(task.first));
    }
}

bool SavedTasks::partWay() const
{
    const auto part = [](const Json::Value& file) {
        const int64_t saved = file.get("lenLoc", 0).asInt64();
        return saved > 0 && saved < file.get("lenSvr", 0).asInt64();
    };
    for (const auto& task : tasks) {
        const Json::Value& saved = task.second.saved;
        if (!saved.isMember("files") && part(saved))
            return true;
        for (const Json::Value& file : saved["files"])
            if (part(file))
                return true;
    }
    return false;
}

std::string SavedTasks::path(int id, int file) const
{
    const Json::Value& saved = tasks.at(id).saved;
    return (file < 0 ? saved : saved["files"][file])["pathLoc"].asString();
}

void SavedTasks::expectOnDisk(const Json::Value& file, const std::string& context)
{
    const int64_t saved = file.get("lenLoc", 0).asInt64();
    const std::string path = file.get("pathLoc", "").asString();
    EXPECT_LE(saved, sizeOnDisk(path)) << "saved lenLoc is ahead of " << path << ": " << context;
}
