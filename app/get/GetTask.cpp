#include "GetTask.h"

#include "Fingerprint.h"
#include "SourceRecord.h"
#include "UrlFileName.h"
#include "hosting/Protocol.h"
#include "support/JsonText.h"
#include "support/Path.h"
#include "support/Text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace M = Protocol::Member;
namespace E = Protocol::Event;

namespace {

const std::chrono::seconds kKeepInterval(1);
// Changes are folded into a new snapshot once they outgrow it, and this much at least.
const size_t kMinChangeBytes = 64 * 1024;
// Members of a download's lasting record.
const char* const kRecordUrl = "url";
const char* const kRecordListing = "listing";
const char* const kRecordLength = "length";
// Files named in a failure line besides the first, at most.
const size_t kNamedFailures = 5;

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

// The size of the regular file at `path` (a link is not followed); -1 when there is none.
int64_t regularFileSize(const std::string& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<int64_t>(info.st_size);
}

// Another open file description (another host's run) holds a lock on the file at `path`. The
// test takes no lock itself: the control of this process must still be able to take one.
bool lockedElsewhere(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool locked = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return locked;
}

// The members of a saved task, or of a saved folder's file, that events change: what a change of
// the sidecar carries. A validator it no longer has is removed there too.
Json::Value changeOf(const Json::Value& object, bool folderFile)
{
    static const std::vector<const char*> taskMembers{M::lenLoc, M::sizeLoc, M::lenSvr, M::sizeSvr, M::pathLoc};
    static const std::vector<const char*> fileMembers{M::lenLoc, M::sizeLoc, M::complete};
    Json::Value change(Json::objectValue);
    for (const char* member : folderFile ? fileMembers : taskMembers)
        if (object.isMember(member))
            change[member] = object[member];
    for (const char* member : {M::etag, M::lastModified})
        change[member] = object.isMember(member) ? object[member] : Json::Value();
    return change;
}

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

GetTask::GetTask(int id, const std::string& directory, const std::string& address)
    : taskId(id), folder(directory), url(address), name(urlFileName(address)), sidecar(directory, name, address)
{
}

GetTask::GetTask(int id, const std::string& directory, const FolderListing& files)
    : taskId(id), folder(directory), listing(files), name(files.name()),
      sidecar(directory, files.name(), "folder " + files.name())
{
}

Json::Value GetTask::begin(const std::vector<std::string>& temporaries, std::vector<std::string>& notes,
                           std::vector<std::string>& warnings)
{
    const Json::Value command = claimAndStart(notes, warnings);
    // Only the run that holds the sidecar can tell that no one is writing its temporaries.
    sidecar.removeTemporaries(temporaries);
    return command;
}

Json::Value GetTask::claimAndStart(std::vector<std::string>& notes, std::vector<std::string>& warnings)
{
    // A second attempt only when another run made the sidecar between the look and the save.
    for (int attempt = 0; attempt < 2; ++attempt) {
        Json::Value loaded;
        std::string why;
        const Sidecar::State found = sidecar.claim(loaded, why);
        if (found == Sidecar::State::busy) {
            current = State::failed;
            warnings.push_back(name + ": in use by another zelvorn" +
                               (sidecar.holder() ? " (pid " + std::to_string(sidecar.holder()) + ")" : "") +
                               "; nothing done");
            return Json::Value();
        }
        if (found == Sidecar::State::loaded && fits(loaded, why)) {
            saved = loaded;
            return resume(notes, warnings);
        }
        if (found == Sidecar::State::missing && findFinished(notes))
            return current == State::skipped ? Json::Value() : resume(notes, warnings);
        if (!why.empty())
            warnings.push_back(sidecar.path() + " is damaged (" + why + "): " + name + " starts over");
        const bool raced = found == Sidecar::State::missing && !sidecar.held();
        const Json::Value command = startFresh(notes, warnings, raced);
        if (!command.isNull() || current == State::failed)
            return command;
    }
    current = State::failed;
    warnings.push_back(name + ": another run claimed it as this one began; nothing done");
    return Json::Value();
}

Json::Value GetTask::startFresh(std::vector<std::string>& notes, std::vector<std::string>& warnings, bool raced)
{
    struct stat info;
    if (::lstat((folder + "/" + name).c_str(), &info) == 0)
        notes.push_back(isFolder() ? name +
                                         ": a folder of this name is there that no record of this listing vouches "
                                         "for; downloading into a new one"
                                   : name +
                                         ": a file of this name is there that no record of this URL vouches for; "
                                         "downloading beside it");
    // The sidecar is there before any byte is: the download is never taken for a finished one.
    saved = Json::Value(Json::objectValue);
    if (isFolder())
        saved[M::nameLoc] = listing.name();
    else
        saved[M::fileUrl] = url;
    std::string error;
    if (keep(true, error))
        return freshCommand();
    if (raced && ::lstat(sidecar.path().c_str(), &info) == 0)
        return Json::Value();  // made by another run since it was found missing: claimed again
    current = State::failed;
    warnings.push_back(name + ": not started: its state cannot be kept in " + sidecar.path() + ": " + error);
    return Json::Value();
}

Json::Value GetTask::resume(std::vector<std::string>& notes, std::vector<std::string>& warnings)
{
    const bool recorded = saved[M::complete].asBool();  // finished, on a file system without records
    saved.removeMember(M::complete);
    if (!saved.isMember(M::pathLoc))
        return startFresh(notes, warnings, false);  // begun, but interrupted before anything was stored
    name = toUtf8(pathFileName(fromUtf8(saved[M::pathLoc].asString())));
    if (writtenElsewhere()) {
        current = State::failed;
        warnings.push_back(name + ": being written by another download; try again later");
        return Json::Value();
    }
    if (isFolder()) {
        const size_t gone = recheckCompleteFiles();
        if (recorded && gone == 0) {
            current = State::skipped;
            notes.push_back(name + ": already downloaded");
            return Json::Value();
        }
        notes.push_back(name + ": resuming at " + sizeLine());
        if (gone == 1)
            notes.push_back(name + ": 1 finished file is gone or changed; downloading it again");
        else if (gone > 1)
            notes.push_back(name + ": " + std::to_string(gone) +
                            " finished files are gone or changed; downloading them again");
    } else {
        const int64_t size = regularFileSize(saved[M::pathLoc].asString());
        if (recorded) {
            if (size == saved[M::lenSvr].asInt64()) {
                current = State::skipped;
                notes.push_back(name + ": already downloaded");
                return Json::Value();
            }
            saved = Json::Value(Json::objectValue);
            saved[M::fileUrl] = url;
            notes.push_back(name + ": the finished file is gone or changed; downloading it again");
            return startFresh(notes, warnings, false);
        }
        if (size < saved[M::lenLoc].asInt64()) {
            notes.push_back(
                name +
                (size < 0 ? ": the part downloaded before is gone" : ": the part on disk is shorter than saved") +
                "; starting over");
            saved[M::lenLoc] = 0;
            saved[M::sizeLoc] = sizeOf(saved[M::lenLoc]);
        } else {
            notes.push_back(name + ": resuming at " + sizeLine());
        }
    }
    // Saved whole at once: the sidecar names its new holder.
    std::string error;
    if (!keep(true, error)) {
        current = State::failed;
        warnings.push_back(name + ": not resumed: its state cannot be kept in " + sidecar.path() + ": " + error);
        return Json::Value();
    }
    const Json::Value command = resumeCommand();
    lastLength = command[M::lenLoc].asInt64();
    return command;
}

bool GetTask::findFinished(std::vector<std::string>& notes)
{
    const std::string found = SourceRecord::find(
        folder, name, [this](const std::string& path, const Json::Value& record) { return vouches(path, record); });
    if (found.empty())
        return false;
    name = found.substr(found.rfind('/') + 1);
    if (!isFolder()) {
        current = State::skipped;
        notes.push_back(name + ": already downloaded");
        return true;
    }
    // The folder as its record says it was finished: every file whole.
    Json::Value task = listing.command(taskId);
    task.removeMember(M::name);
    task.removeMember(M::id);
    task[M::nameLoc] = name;
    task[M::pathLoc] = found;
    for (auto& file : task[M::files]) {
        file[M::pathLoc] = found + "/" + file[M::pathLoc].asString();
        file[M::lenLoc] = file[M::lenSvr];
        file[M::complete] = true;
    }
    task[M::lenLoc] = task[M::lenSvr];
    saved = task;
    if (const size_t gone = recheckCompleteFiles()) {
        notes.push_back(name + ": " + std::to_string(gone) + " of " + std::to_string(listing.files().size()) +
                        " files are gone or changed since it was downloaded; downloading them again");
        return true;
    }
    current = State::skipped;
    notes.push_back(name + ": already downloaded");
    return true;
}

size_t GetTask::recheckCompleteFiles()
{
    size_t gone = 0;
    int64_t whole = 0;
    for (auto& file : saved[M::files]) {
        const int64_t size = regularFileSize(file[M::pathLoc].asString());
        if (file[M::complete].asBool() && size != file[M::lenSvr].asInt64()) {
            file[M::complete] = false;
            file[M::lenLoc] = 0;
            ++gone;
        } else if (!file[M::complete].asBool() && size < file[M::lenLoc].asInt64()) {
            file[M::lenLoc] = 0;  // the part is gone: the control starts it over too
        }
        if (file[M::complete].asBool())
            whole += file[M::lenSvr].asInt64();
        file[M::sizeLoc] = sizeOf(file[M::lenLoc]);
    }
    if (gone > 0) {
        saved[M::lenLoc] = Json::Int64(whole);
        saved[M::sizeLoc] = sizeOf(saved[M::lenLoc]);
    }
    return gone;
}

bool GetTask::writtenElsewhere() const
{
    if (!isFolder())
        return lockedElsewhere(saved[M::pathLoc].asString());
    for (const auto& file : saved[M::files])
        if (!file[M::complete].asBool() && lockedElsewhere(file[M::pathLoc].asString()))
            return true;
    return false;
}

Json::Value GetTask::record() const
{
    Json::Value record;
    if (isFolder()) {
        record[kRecordListing] = fingerprint(writeCompactJson(listing.command(0)[M::files]));
    } else {
        record[kRecordUrl] = url;
        for (const char* member : {M::etag, M::lastModified})
            if (saved.isMember(member))
                record[member] = saved[member];
    }
    record[kRecordLength] = saved[M::lenSvr];
    return record;
}

bool GetTask::vouches(const std::string& path, const Json::Value& found) const
{
    const Json::Value expected = record();
    if (isFolder()) {
        struct stat info;
        return found[kRecordListing] == expected[kRecordListing] && ::lstat(path.c_str(), &info) == 0 &&
               S_ISDIR(info.st_mode);
    }
    return found[kRecordUrl] == expected[kRecordUrl] && isLength(found[kRecordLength]) &&
           regularFileSize(path) == found[kRecordLength].asInt64();
}

Json::Value GetTask::freshCommand() const
{
    if (isFolder())
        return listing.command(taskId);
    Json::Value command;
    command[M::name] = Protocol::Command::addFile;
    command[M::id] = taskId;
    command[M::fileUrl] = url;
    // The URL's name: a file of that name that is there keeps it, this one is numbered.
    command[M::nameCustom] = name;
    return command;
}

Json::Value GetTask::resumeCommand() const
{
    Json::Value command = saved;
    command[M::name] = isFolder() ? Protocol::Command::addFolder : Protocol::Command::addFile;
    command[M::id] = taskId;
    // A folder without a byte yet would be laid out anew, in a new folder: it is resumed where it is.
    if (isFolder() && command[M::lenLoc].asInt64() <= 0)
        command[M::lenLoc] = 1;
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

GetTask::Change GetTask::apply(Json::Value&& taken)
{
    const Json::Value& event = taken;
    const std::string kind = event[M::name].asString();
    Change change = Change::none;
    if (kind == E::downComplete && (!isFolder() || event[M::all].asBool())) {
        current = State::complete;
        completedFiles += isFolder() ? 0 : 1;
        return Change::complete;
    }
    if (kind == E::downError) {
        current = State::failed;
        code = event[M::code].asUInt();
        status = event[M::status].isInt() ? event[M::status].asInt() : 0;
        reason = event[M::reason].isString() ? event[M::reason].asString() : "";
        // A 206 refused for a resumed file: the part on disk is of another version.
        restartDue = !isFolder() && !restarted && code == Protocol::kTransferFailed && status == 206 && lastLength > 0;
        return Change::failed;
    }
    if (kind == E::downStopped) {
        if (current == State::failed || current == State::stopped)
            return Change::none;
        current = State::stopped;
        return Change::stopped;
    }
    if (kind == E::downProcess) {
        percent = event[M::percent].asString();
        speed = event[M::speed].asString();
        remaining = event[M::time].asString();
        change = Change::progress;
        countStored(event[M::lenLoc], lastLength, change);
        saved[M::lenLoc] = event[M::lenLoc];
        saved[M::sizeLoc] = event[M::sizeLoc];
        topChanged = true;
    }
    if (isFolder())
        applyFolderEvent(kind, std::move(taken), change);
    else
        applyFileEvent(kind, event, change);
    return change;
}

void GetTask::countStored(const Json::Value& lenLoc, int64_t& last, Change& change)
{
    const int64_t now = lenLoc.asInt64();
    if (now > last)
        received += now - last;
    else if (now < last && !isFolder())
        change = Change::restarted;
    last = now;
}

void GetTask::applyFileEvent(const std::string& kind, const Json::Value& event, Change& change)
{
    if (kind == E::downRecvSize || kind == E::downBegin) {
        keepValidator(event, saved);
        topChanged = true;
        change = Change::progress;
    }
    if (kind == E::downRecvSize) {
        saved[M::lenSvr] = event[M::len];
        saved[M::sizeSvr] = event[M::size];
    } else if (kind == E::downRecvName && saved[M::pathLoc] != event[M::pathLoc]) {
        saved[M::pathLoc] = event[M::pathLoc];
        name = toUtf8(pathFileName(fromUtf8(event[M::pathLoc].asString())));
        change = Change::milestone;
    }
}

void GetTask::applyFolderEvent(const std::string& kind, Json::Value&& taken, Change& change)
{
    const Json::Value& event = taken;
    if (kind == E::initEnd) {
        saved = std::move(taken);
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
    if (kind == E::downBegin) {
        keepValidator(about, file);
    } else if (kind == E::downProcess) {
        if (about[M::lenLoc].asInt64() < file[M::lenLoc].asInt64()) {
            change = Change::restarted;
            restartedFile = folderFileName(file);
        }
        file[M::lenLoc] = about[M::lenLoc];
        file[M::sizeLoc] = about[M::sizeLoc];
    } else if (kind == E::downComplete) {
        // A finished file is skipped when the folder resumes.
        file[M::complete] = true;
        file[M::lenLoc] = file[M::lenSvr];
        ++completedFiles;
    } else {
        return;
    }
    filesChanged.insert(index);
    if (change == Change::none)
        change = Change::progress;
}

bool GetTask::keep(bool force, std::string& error)
{
    const auto now = std::chrono::steady_clock::now();
    if (!force && (now - lastKept < kKeepInterval || (!topChanged && filesChanged.empty())))
        return true;
    bool whole = force || sidecar.changeBytes() >= std::max(kMinChangeBytes, sidecar.snapshotBytes());
    if (!whole && !appendChanges(error))
        whole = true;
    if (whole && !sidecar.save(saved, error))
        return false;
    topChanged = false;
    filesChanged.clear();
    lastKept = now;
    return true;
}

bool GetTask::appendChanges(std::string& error)
{
    std::vector<Sidecar::Change> changes;
    changes.reserve(filesChanged.size() + 1);
    if (topChanged)
        changes.push_back({-1, changeOf(saved, false)});
    const Json::Value& files = static_cast<const Json::Value&>(saved)[M::files];
    for (const auto index : filesChanged)
        changes.push_back({static_cast<int>(index), changeOf(files[index], true)});
    return sidecar.append(changes, error);
}

bool GetTask::settle(std::string& error)
{
    if (!sidecar.held() || !hasStored() || (!topChanged && filesChanged.empty()))
        return true;
    return keep(true, error);
}

bool GetTask::finish(std::string& error)
{
    std::string why;
    if (SourceRecord::write(saved[M::pathLoc].asString(), record(), why))
        return sidecar.remove(error);
    // A file system without extended attributes: the sidecar, marked complete, is the record.
    saved[M::complete] = true;
    return sidecar.save(saved, error);
}

Json::Value GetTask::restartCommand(std::string& note)
{
    if (!restartDue)
        return Json::Value();
    restartDue = false;
    restarted = true;
    current = State::waiting;
    note = name + ": the server's part does not continue the file on disk (it changed there); starting over from 0";
    saved[M::lenLoc] = 0;
    saved[M::sizeLoc] = sizeOf(saved[M::lenLoc]);
    saved[M::lenSvr] = 0;
    saved[M::sizeSvr] = sizeOf(saved[M::lenSvr]);
    saved.removeMember(M::etag);
    saved.removeMember(M::lastModified);
    lastLength = 0;
    std::string error;
    if (!keep(true, error)) {
        current = State::failed;
        note = name + ": not started over: its state cannot be kept in " + sidecar.path() + ": " + error;
        return Json::Value();
    }
    return resumeCommand();
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

std::string GetTask::folderFileName(const Json::Value& file) const
{
    const std::string root = saved[M::pathLoc].asString() + "/";
    const std::string path = file[M::pathLoc].asString();
    return path.compare(0, root.size(), root) == 0 ? name + "/" + path.substr(root.size()) : path;
}

std::string GetTask::restartLine() const
{
    return (isFolder() ? restartedFile : name) +
           ": the server sent the whole file again (it changed there); starting over";
}

std::string GetTask::failureLine() const
{
    std::string why;
    if (code == Protocol::kFileBusy) {
        why = "being written by another download; try again later";
    } else {
        why = !reason.empty()                      ? reason
              : code == Protocol::kLocalFileFailed ? "the local file could not be opened, written or kept"
                                                   : "the server or the network failed";
        if (status > 0)
            why += " (HTTP " + std::to_string(status) + ")";
    }
    if (!isFolder())
        return name + ": failed: " + url + ": " + why;
    // Files are fetched in list order and the control names the first failure's reason: the
    // first file not complete is the one that failed so.
    std::vector<std::string> open;
    size_t complete = 0;
    for (const auto& file : saved[M::files]) {
        if (file[M::complete].asBool())
            ++complete;
        else
            open.push_back(folderFileName(file));
    }
    std::string line = name + ": failed: " + (open.empty() ? std::string() : open.front() + ": ") + why + "; " +
                       std::to_string(complete) + " of " + std::to_string(listing.files().size()) + " files complete";
    if (open.size() > 1) {
        line += "; not complete either:";
        for (size_t i = 1; i < open.size() && i <= kNamedFailures; ++i)
            line += (i > 1 ? ", " : " ") + open[i];
        if (open.size() - 1 > kNamedFailures)
            line += " and " + std::to_string(open.size() - 1 - kNamedFailures) + " more";
    }
    return line;
}

std::string GetTask::progressLine() const
{
    std::string sizes = saved[M::sizeLoc].asString();
    if (saved[M::sizeSvr].isString())
        sizes += " of " + saved[M::sizeSvr].asString();
    return name + "  " + percent + "  " + sizes + "  " + speed + "  " + remaining + " left";
}
