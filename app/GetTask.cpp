#include "GetTask.h"

#include "UrlFileName.h"
#include "component/Protocol.h"
#include "support/Path.h"
#include "support/Text.h"

#include <filesystem>

namespace M = Protocol::Member;
namespace E = Protocol::Event;

namespace {

const std::chrono::seconds kKeepInterval(1);

bool isLength(const Json::Value& value)
{
    return value.isIntegral() && value.isInt64() && value.asInt64() >= 0;
}

// Stored and total lengths that a resumed run can start from.
bool resumableLengths(const Json::Value& task)
{
    return isLength(task[M::lenLoc]) && isLength(task[M::lenSvr]) &&
           (task[M::lenSvr].asInt64() == 0 || task[M::lenLoc].asInt64() <= task[M::lenSvr].asInt64());
}

std::string sizeOf(const Json::Value& length)
{
    return toUtf8(sizeText(length.asInt64()));
}

}  // namespace

GetTask::GetTask(int id, const std::string& directory, const std::string& address)
    : taskId(id), folder(directory), url(address), name(urlFileName(address)), sidecar(directory, name, address)
{
}

GetTask::GetTask(int id, const std::string& directory, const FolderListing& files)
    : taskId(id), folder(directory), listing(files), name(files.name()),
      sidecar(directory, files.name(), "folder " + files.name())
{
}

Json::Value GetTask::begin(std::vector<std::string>& notes, std::vector<std::string>& warnings)
{
    Json::Value loaded;
    std::string why;
    switch (sidecar.load(loaded, why)) {
    case Sidecar::State::loaded:
        if (!fits(loaded, why))
            break;
        saved = loaded;
        if (!saved.isMember(M::pathLoc))
            return freshCommand();  // begun, but interrupted before anything was stored
        name = toUtf8(pathFileName(fromUtf8(saved[M::pathLoc].asString())));
        notes.push_back(name + ": resuming at " + sizeLine());
        {
            Json::Value command = saved;
            command[M::name] = isFolder() ? Protocol::Command::addFolder : Protocol::Command::addFile;
            command[M::id] = taskId;
            return command;
        }
    case Sidecar::State::missing:
        if (std::filesystem::exists(folder + "/" + name)) {
            current = State::skipped;
            notes.push_back(name + ": already downloaded");
            return Json::Value();
        }
        break;
    case Sidecar::State::damaged:
        break;
    }
    if (!why.empty())
        warnings.push_back(sidecar.path() + " is damaged (" + why + "): " + name + " starts over");

    // The sidecar is there before any byte is: the download is never taken for a finished one.
    saved = Json::Value(Json::objectValue);
    if (isFolder())
        saved[M::nameLoc] = listing.name();
    else
        saved[M::fileUrl] = url;
    std::string error;
    if (!keep(true, error)) {
        current = State::failed;
        warnings.push_back(name + ": not started: its state cannot be kept in " + sidecar.path() + ": " + error);
        return Json::Value();
    }
    return freshCommand();
}

Json::Value GetTask::freshCommand() const
{
    if (isFolder())
        return listing.command(taskId);
    Json::Value command;
    command[M::name] = Protocol::Command::addFile;
    command[M::id] = taskId;
    command[M::fileUrl] = url;
    // The URL's name, so that a finished download is found by it on the next run.
    command[M::nameCustom] = name;
    return command;
}

bool GetTask::fits(const Json::Value& task, std::string& why) const
{
    if (isFolder() ? fitsFolder(task, why) : fitsFile(task, why))
        return true;
    why = "it was saved for another download: " + why;
    return false;
}

bool GetTask::fitsFile(const Json::Value& task, std::string& why) const
{
    if (task[M::fileUrl] != Json::Value(url)) {
        why = "another URL";
        return false;
    }
    if (!task.isMember(M::pathLoc))
        return true;
    if (!task[M::pathLoc].isString() || !inFolder(task[M::pathLoc].asString())) {
        why = "a local path outside " + folder;
        return false;
    }
    if (!resumableLengths(task)) {
        why = "lengths that cannot be resumed";
        return false;
    }
    return true;
}

bool GetTask::fitsFolder(const Json::Value& task, std::string& why) const
{
    if (!task.isMember(M::pathLoc))
        return true;
    const Json::Value& root = task[M::pathLoc];
    const Json::Value& files = task[M::files];
    if (!root.isString() || !inFolder(root.asString()) || !resumableLengths(task)) {
        why = "a folder outside " + folder + " or lengths that cannot be resumed";
        return false;
    }
    if (!files.isArray() || files.size() != listing.files().size()) {
        why = "another number of files";
        return false;
    }
    const std::wstring rootPath = fromUtf8(root.asString()) + L"/";
    for (Json::ArrayIndex i = 0; i < files.size(); ++i) {
        const Json::Value& file = files[i];
        const FolderListing::File& listed = listing.files()[i];
        const std::wstring path = file[M::pathLoc].isString() ? fromUtf8(file[M::pathLoc].asString()) : L"";
        const bool inside = path.compare(0, rootPath.size(), rootPath) == 0 &&
                            pathJoinConfined(fromUtf8(root.asString()), path.substr(rootPath.size())) == path;
        if (file[M::fileUrl] != Json::Value(listed.url) || !inside || !resumableLengths(file) ||
            file[M::lenSvr].asInt64() != listed.size) {
            why = "file " + std::to_string(i) + " differs from the listing";
            return false;
        }
    }
    return true;
}

bool GetTask::inFolder(const std::string& path) const
{
    const std::wstring wide = fromUtf8(path);
    return wide == pathJoin(fromUtf8(folder), plainFileName(pathFileName(wide)));
}

GetTask::Change GetTask::apply(const Json::Value& event)
{
    const std::string kind = event[M::name].asString();
    Change change = Change::none;
    if (kind == E::downComplete && (!isFolder() || event[M::all].asBool())) {
        current = State::complete;
        return Change::complete;
    }
    if (kind == E::downError) {
        current = State::failed;
        code = event[M::code].asUInt();
        return Change::failed;
    }
    if (kind == E::downStopped) {
        if (current != State::failed)
            current = State::stopped;
        return Change::stopped;
    }
    if (kind == E::downProcess) {
        percent = event[M::percent].asString();
        speed = event[M::speed].asString();
        remaining = event[M::time].asString();
        saved[M::lenLoc] = event[M::lenLoc];
        saved[M::sizeLoc] = event[M::sizeLoc];
        change = Change::progress;
    }
    if (isFolder())
        applyFolderEvent(kind, event, change);
    else
        applyFileEvent(kind, event, change);
    return change;
}

namespace {

// The server's validator that an accepted answer reports: kept so that a resumed run asks for
// the rest of this very version (the one it replaces goes).
void keepValidator(const Json::Value& reported, Json::Value& task)
{
    for (const char* member : {M::etag, M::lastModified}) {
        if (reported.isMember(member))
            task[member] = reported[member];
        else
            task.removeMember(member);
    }
}

}  // namespace

void GetTask::applyFileEvent(const std::string& kind, const Json::Value& event, Change& change)
{
    if (kind == E::downRecvSize || kind == E::downBegin)
        keepValidator(event, saved);
    if (kind == E::downRecvSize) {
        saved[M::lenSvr] = event[M::len];
        saved[M::sizeSvr] = event[M::size];
        change = Change::milestone;
    } else if (kind == E::downRecvName) {
        saved[M::pathLoc] = event[M::pathLoc];
        name = toUtf8(pathFileName(fromUtf8(event[M::pathLoc].asString())));
        change = Change::milestone;
    }
}

void GetTask::applyFolderEvent(const std::string& kind, const Json::Value& event, Change& change)
{
    if (kind == E::initEnd) {
        saved = event;
        saved.removeMember(M::name);
        saved.removeMember(M::id);
        name = saved[M::nameLoc].asString();
        change = Change::milestone;
        return;
    }
    const Json::Value& about = event[M::file];
    if (!about.isObject() || !about[M::id].isInt())
        return;
    Json::Value& files = saved[M::files];
    const auto index = static_cast<Json::ArrayIndex>(about[M::id].asInt());
    if (!files.isArray() || index >= files.size())
        return;
    Json::Value& file = files[index];
    if (kind == E::downBegin)
        keepValidator(about, file);
    if (kind == E::downProcess) {
        file[M::lenLoc] = about[M::lenLoc];
        file[M::sizeLoc] = about[M::sizeLoc];
    } else if (kind == E::downComplete) {
        // A finished file is skipped when the folder resumes.
        file[M::complete] = true;
        file[M::lenLoc] = file[M::lenSvr];
        change = Change::milestone;
    }
}

bool GetTask::keep(bool force, std::string& error)
{
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastKept < kKeepInterval)
        return true;
    if (!sidecar.save(saved, error))
        return false;
    lastKept = now;
    return true;
}

std::string GetTask::sizeLine() const
{
    return sizeOf(saved[M::lenLoc]) + " of " + sizeOf(saved[M::lenSvr]);
}

bool GetTask::hasStored() const
{
    // The local path is known (and saved) before the first byte is written.
    return saved.isMember(M::pathLoc);
}

std::string GetTask::failureLine() const
{
    const std::string reason = code == Protocol::kLocalFileFailed
                                   ? "the local file could not be opened, written or kept"
                                   : "the server or the network failed, or answered what cannot be used";
    if (!isFolder())
        return name + ": failed: " + url + ": " + reason;
    int complete = 0;
    for (const auto& file : saved[M::files])
        complete += file[M::complete].asBool() ? 1 : 0;
    return name + ": failed: " + reason + "; " + std::to_string(complete) + " of " +
           std::to_string(listing.files().size()) + " files complete";
}

std::string GetTask::progressLine() const
{
    std::string sizes = saved[M::sizeLoc].asString();
    if (saved[M::sizeSvr].isString())
        sizes += " of " + saved[M::sizeSvr].asString();
    return name + "  " + percent + "  " + sizes + "  " + speed + "  " + remaining + " left";
}
