#include "Sidecar.h"

#include "Fingerprint.h"
#include "hosting/Protocol.h"
#include "support/JsonText.h"
#include "support/Path.h"
#include "support/Text.h"
#include "support/WriteAll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const int kFormat = 2;
const int kFirstFormat = 1;  // one JSON object, no changes: still read
const char* const kFormatMember = "zelvornGet";
const char* const kTaskMember = "task";
const char* const kPidMember = "pid";
const char* const kCheckMember = "check";
const char* const kChangeMember = "change";
const char* const kSetMember = "set";
const char* const kFileMember = "file";
const char* const kSuffix = ".zelvorn";
const char* const kTemporarySuffix = ".XXXXXX";
const size_t kMaxNameBytes = 255;
// A snapshot holds one task object, which is never longer than a command; its changes are
// folded into a new snapshot before they outgrow it.
const size_t kMaxBytes = 4 * Protocol::kMaxCommandBytes;

std::string checkOf(const Json::Value& value)
{
    return fingerprint(writeCompactJson(value));
}

bool lockWhole(int fd)
{
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &whole) == 0;
}

// The file's bytes, up to `limit` of them; false when it cannot be read or is longer.
bool readAll(int fd, size_t limit, std::string& text)
{
    text.clear();
    char block[64 * 1024];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, block, sizeof block, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text.append(block, static_cast<size_t>(n));
        at += n;
        if (text.size() > limit)
            return false;
    }
}

// Applies one change line's members to `task`; false when it names no file of it.
bool applyChange(const Json::Value& change, Json::Value& task)
{
    const Json::Value& members = change[kSetMember];
    if (!members.isObject())
        return false;
    Json::Value* target = &task;
    if (change.isMember(kFileMember)) {
        const Json::Value& index = change[kFileMember];
        Json::Value& files = task["files"];
        if (!index.isUInt() || !files.isArray() || index.asUInt() >= files.size())
            return false;
        target = &files[index.asUInt()];
    }
    for (const auto& name : members.getMemberNames()) {
        if (members[name].isNull())
            target->removeMember(name);
        else
            (*target)[name] = members[name];
    }
    return true;
}

}  // namespace

Sidecar::Sidecar(const std::string& folder, const std::string& name, const std::string& key) : folderPath(folder)
{
    // The last 8 hex digits: the low 32 bits.
    const std::string tail = "." + fingerprint(key).substr(8) + kSuffix;
    const size_t room = kMaxNameBytes - std::strlen(kTemporarySuffix) - tail.size();
    file = folder + "/" + toUtf8(fitFileName(fromUtf8(name), room)) + tail;
}

Sidecar::~Sidecar()
{
    release();
}

Sidecar::Sidecar(Sidecar&& other) noexcept
    : folderPath(std::move(other.folderPath)), file(std::move(other.file)), fd(other.fd), holderPid(other.holderPid),
      snapshot(other.snapshot), journal(other.journal)
{
    other.fd = -1;
}

std::string Sidecar::fileName() const
{
    return file.substr(file.rfind('/') + 1);
}

void Sidecar::release()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

Sidecar::State Sidecar::claim(Json::Value& task, std::string& why)
{
    release();
    for (;;) {
        const int opened = ::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (opened < 0) {
            if (errno == ENOENT)
                return State::missing;
            why = std::string("it cannot be opened: ") + std::strerror(errno);
            return State::damaged;
        }
        if (!lockWhole(opened)) {
            const int error = errno;
            if (error != EAGAIN && error != EACCES) {
                ::close(opened);
                why = std::string("it cannot be locked: ") + std::strerror(error);
                return State::damaged;
            }
            // Its first line names the holder; a snapshot being replaced may not show it yet.
            std::string text;
            Json::Value saved;
            holderPid = 0;
            if (readAll(opened, kMaxBytes, text) && parseJson(text.substr(0, text.find('\n')), saved) &&
                saved[kPidMember].isInt64())
                holderPid = static_cast<long>(saved[kPidMember].asInt64());
            ::close(opened);
            return State::busy;
        }
        // Locked, but perhaps after its holder replaced or removed it: only the file at the path
        // is the claim.
        struct stat held, named;
        if (::fstat(opened, &held) == 0 && ::lstat(file.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            fd = opened;
            return read(task, why);
        }
        ::close(opened);
    }
}

Sidecar::State Sidecar::read(Json::Value& task, std::string& why)
{
    std::string text;
    if (!readAll(fd, kMaxBytes, text)) {
        why = "it cannot be read or is larger than " + std::to_string(kMaxBytes) + " bytes";
        return State::damaged;
    }
    if (text.empty())
        return State::missing;
    const size_t firstEnd = text.find('\n');
    Json::Value saved;
    if (!parseJson(text.substr(0, firstEnd), saved) || !saved.isObject()) {
        why = "it is not the JSON object it was written as";
        return State::damaged;
    }
    const Json::Value& format = saved[kFormatMember];
    if (!format.isInt() || (format.asInt() != kFormat && format.asInt() != kFirstFormat)) {
        why = "it is written in another format";
        return State::damaged;
    }
    const Json::Value& check = saved[kCheckMember];
    if (!saved[kTaskMember].isObject() || !check.isString() || check.asString() != checkOf(saved[kTaskMember])) {
        why = "its content does not match its checksum";
        return State::damaged;
    }
    Json::Value loaded = saved[kTaskMember];
    snapshot = firstEnd == std::string::npos ? text.size() : firstEnd + 1;
    size_t at = snapshot;
    for (size_t line = 1; at < text.size(); ++line) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos)
            break;  // cut short while it was written: it never counted
        Json::Value record;
        const bool whole = parseJson(text.substr(at, end - at), record) && record.isObject() &&
                           record[kCheckMember].isString() &&
                           record[kCheckMember].asString() == checkOf(record[kChangeMember]) &&
                           applyChange(record[kChangeMember], loaded);
        if (!whole) {
            why = "its change " + std::to_string(line) + " does not match its checksum";
            return State::damaged;
        }
        at = end + 1;
    }
    // What follows the last whole line goes, so that new changes follow whole ones.
    if (at < text.size() && ::ftruncate(fd, static_cast<off_t>(at)) != 0) {
        why = std::string("its last change cannot be dropped: ") + std::strerror(errno);
        return State::damaged;
    }
    journal = at - snapshot;
    task = loaded;
    return State::loaded;
}

bool Sidecar::save(const Json::Value& task, std::string& error)
{
    Json::Value saved;
    saved[kFormatMember] = kFormat;
    saved[kPidMember] = Json::Int64(::getpid());
    saved[kTaskMember] = task;
    saved[kCheckMember] = checkOf(task);
    const std::string text = writeCompactJson(saved);  // one line, with its line feed

    std::string pattern = file + kTemporarySuffix;
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    const int made = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (made < 0) {
        error = std::strerror(errno);
        return false;
    }
    // Locked before it takes the path: the claim never lapses while the content is replaced.
    bool ok = ::fchmod(made, 0644) == 0 && writeAllAt(made, text.data(), text.size(), 0) && ::fsync(made) == 0 &&
              lockWhole(made);
    if (ok && fd >= 0) {
        ok = ::rename(temporary.data(), file.c_str()) == 0;
    } else if (ok) {
        // Not held: made only where no other run has made one meanwhile.
        ok = ::renameat2(AT_FDCWD, temporary.data(), AT_FDCWD, file.c_str(), RENAME_NOREPLACE) == 0;
        if (!ok && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without that rename: a link is made only where nothing is.
            ok = ::link(temporary.data(), file.c_str()) == 0;
            const int failure = errno;
            ::unlink(temporary.data());
            errno = failure;
        }
    }
    if (!ok) {
        const int failure = errno;
        ::unlink(temporary.data());
        ::close(made);
        error = std::strerror(failure);
        errno = failure;
        return false;
    }
    release();
    fd = made;
    snapshot = text.size();
    journal = 0;
    return true;
}

bool Sidecar::append(const std::vector<Change>& changes, std::string& error)
{
    if (fd < 0) {
        error = "it is not held";
        return false;
    }
    if (journal >= kMaxBytes) {
        error = "its last change could not be taken back";
        return false;
    }
    std::string lines;
    for (const auto& one : changes) {
        Json::Value change;
        if (one.fileIndex >= 0)
            change[kFileMember] = one.fileIndex;
        change[kSetMember] = one.members;
        Json::Value record;
        record[kChangeMember] = change;
        record[kCheckMember] = checkOf(change);
        lines += writeCompactJson(record);
    }
    const off_t end = static_cast<off_t>(snapshot + journal);
    if (!writeAllAt(fd, lines.data(), lines.size(), end)) {
        error = std::strerror(errno);
        // A part written passes for a torn last line, but no whole line may follow it.
        if (::ftruncate(fd, end) != 0)
            journal = kMaxBytes;  // only a snapshot writes again
        return false;
    }
    journal += lines.size();
    return true;
}

bool Sidecar::remove(std::string& error)
{
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    release();
    return true;
}

void Sidecar::removeTemporaries(const std::vector<std::string>& names) const
{
    if (fd < 0)
        return;
    const std::string prefix = fileName() + ".";
    const size_t length = prefix.size() + std::strlen(kTemporarySuffix) - 1;
    for (const auto& name : names)
        if (name.size() == length && name.compare(0, prefix.size(), prefix) == 0)
            ::unlink((folderPath + "/" + name).c_str());
}
