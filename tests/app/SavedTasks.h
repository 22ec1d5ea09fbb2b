// SavedTasks: what a page keeps of its tasks, for tests that end a host and resume its downloads
// in another: for each task, the object it sends again to resume it, updated from the events it
// reads (lengths, local path, validators, a folder's layout and the progress of its files), and
// every saved length checked against the file on disk as it is read.
//
// Owned by one test, on its thread.
#pragma once

#include <json/value.h>

#include <map>
#include <string>
#include <vector>

class SavedTasks {
public:
    // An "add_file" task of `url`.
    static Json::Value fileTask(int id, const std::string& url);

    void add(Json::Value task) { tasks[task["id"].asInt()].saved = std::move(task); }

    // Settings ("init" into `downloads`), every unfinished task and the start, one command a line.
    std::string commands(const std::string& downloads) const;
    // Takes in one event line; fails the test when its lenLoc is ahead of the disk.
    void read(const std::string& line);
    bool finished() const;
    // Every file a saved task names holds at least the bytes saved for it.
    void expectAllOnDisk() const;
    // True when a file is saved part way through.
    bool partWay() const;
    // The local file of a file task, or of the n-th file of a folder.
    std::string path(int id, int file = -1) const;
    // The saved task.
    const Json::Value& task(int id) const { return tasks.at(id).saved; }

    std::vector<std::string> errors;  // every "down_error" read

private:
    struct Task {
        Json::Value saved;
        bool done = false;
    };

    static void expectOnDisk(const Json::Value& file, const std::string& context);

    std::map<int, Task> tasks;
};
