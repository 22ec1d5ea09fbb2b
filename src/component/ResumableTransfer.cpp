#include "component/ResumableTransfer.h"

#include "component/Config.h"
#include "component/HostNotice.h"
#include "hosting/Protocol.h"
#include "log/Log.h"
#include "net/HttpHeader.h"
#include "platform/DeferredWake.h"
#include "support/Path.h"
#include "support/Text.h"

#include <boost/algorithm/string/predicate.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Bodies from this size on are written on a thread of their own; below it a thread costs more
// than the overlap gains.
const int64_t kWriteBehindFrom = 8 * 1024 * 1024;

}  // namespace

ResumableTransfer::ResumableTransfer(DownItem& task, StopFlag stop, const Dravik::IO::ConfinedFolder& folder)
    : file(task), stopFlag(std::move(stop)), downloads(folder)
{
    request.verb = L"GET";
    request.stopFlag = stopFlag;
    request.receiver = this;
}

int64_t ResumableTransfer::settledOffset() const
{
    const int64_t saved = file.lenLoc;
    const int64_t total = file.lenSvr;
    if (saved <= 0 || (total > 0 && saved > total) || saved > local.size())
        return 0;
    return saved;
}

bool ResumableTransfer::folderAllowed()
{
    Config& settings = Config::instance();
    if (!settings.confined())
        return true;
    if (!downloads.isOpen() || !settings.allowsFolder(downloads.resolved())) {
        hostNotice("the download folder " + toUtf8(downloads.given()) +
                   " is not one the user allowed; nothing written");
        fail(Protocol::kLocalFileFailed, "下载文件夹不在允许的范围内：", "the download folder is not allowed");
        return false;
    }
    return true;
}

bool ResumableTransfer::openLocal()
{
    std::string relative;
    const Dravik::IO::ConfinedFolder* folder = &downloads;
    if (!downloads.relativeOf(file.pathLoc, relative)) {
        if (Config::instance().confined()) {
            hostNotice("a page asked to write " + toUtf8(file.pathLoc) +
                       ", outside its download folder; nothing written");
            fail(Protocol::kLocalFileFailed, "本地文件不在下载文件夹内：", "the file is outside the download folder");
            return false;
        }
        // The user's own path, as given: only its last name is opened without following a link.
        const std::wstring path = pathJoin(file.pathLoc, L"");
        const std::wstring name = pathFileName(path);
        ownFolder = std::make_unique<Dravik::IO::ConfinedFolder>();
        if (name.empty() || name == L".." || !ownFolder->open(path.substr(0, path.size() - name.size()))) {
            failLocally(Protocol::kLocalFileFailed, "打开本地文件失败：", name.empty() ? EISDIR : errno);
            return false;
        }
        folder = ownFolder.get();
        relative = toUtf8(name);
    }
    switch (local.open(*folder, relative, file.lenLoc <= 0)) {
    case LocalFile::Status::open:
        return true;
    case LocalFile::Status::busy:
        fail(Protocol::kFileBusy, "本地文件正被另一个下载写入：", "the file is being written by another download");
        return false;
    case LocalFile::Status::failed:
        break;
    }
    failLocally(Protocol::kLocalFileFailed, "打开本地文件失败：", local.error());
    return false;
}

bool ResumableTransfer::settleNewPath(const std::wstring& relative)
{
    worker.check("ResumableTransfer::settleNewPath");
    const std::wstring name = pathFileName(relative);
    const std::wstring directory = relative.substr(0, relative.size() - name.size());
    std::string chosen;
    switch (local.create(downloads, toUtf8(pathJoin(directory, L"")), name, chosen)) {
    case LocalFile::Status::open:
        file.pathLoc = downloads.pathOf(chosen);
        return true;
    case LocalFile::Status::busy:
        fail(Protocol::kFileBusy, "本地文件正被另一个下载写入：", "the file is being written by another download");
        return false;
    case LocalFile::Status::failed:
        break;
    }
    failLocally(Protocol::kLocalFileFailed, "没有可用的本地文件名：", local.error());
    return false;
}

std::string ResumableTransfer::requestHeaders() const
{
    HttpHeader header;
    header.removeHeader("Content-Type");
    header.removeHeader("Accept");
    // Only the raw bytes of the file can be appended to it.
    header.setHeader("Accept-Encoding", "identity");
    header.setRange(file.lenLoc, file.lenSvr - 1);  // the last byte, inclusive
    if (file.lenLoc > 0)
        header.setHeader("If-Range", file.etag.empty() ? file.lastModified : file.etag);
    header.setCookie(Config::instance().cookie());
    return header.build();
}

ResumableTransfer::Result ResumableTransfer::run()
{
    worker.check("ResumableTransfer::run");
    if (stopFlag->load())
        return ended(Outcome::stopped);
    if (!folderAllowed())
        return ended(Outcome::failed, failure);
    if (file.pathLoc.empty() && !downloads.isOpen()) {
        failLocally(Protocol::kLocalFileFailed, "打开下载文件夹失败：", EACCES);
        return ended(Outcome::failed, failure);
    }
    if (!file.pathLoc.empty() && !openLocal())
        return ended(Outcome::failed, failure);
    file.lenLoc = settledOffset();
    if (file.lenSvr > 0 && file.lenLoc == file.lenSvr)
        return completeOnDisk();

    request.setHeaders(requestHeaders());
    request.stallSeconds = Config::instance().stallSeconds.load();
    requestedFrom = file.lenLoc;
    const bool ok = request.request(fromUtf8(file.fileUrl), L"");
    return judge(ok);
}

ResumableTransfer::Result ResumableTransfer::createEmpty()
{
    worker.check("ResumableTransfer::createEmpty");
    if (!folderAllowed() || !openLocal())
        return ended(Outcome::failed, failure);
    if (local.size() > 0 && ::ftruncate(local.descriptor(), 0) != 0) {
        failLocally(Protocol::kLocalFileFailed, "写入本地文件失败", errno);
        return ended(Outcome::failed, failure);
    }
    file.lenLoc = 0;
    return ended(Outcome::complete);
}

bool ResumableTransfer::sameVersion() const
{
    const ResponseHeaders& answer = request.response();
    std::string value;
    if (!file.etag.empty() && answer.find("ETag", value) && value != file.etag)
        return false;
    return file.lastModified.empty() || !answer.find("Last-Modified", value) || value == file.lastModified;
}

void ResumableTransfer::keepValidator()
{
    const ResponseHeaders& answer = request.response();
    std::string tag, modified;
    // A weak tag says "much the same", never "the same bytes": it cannot vouch for a range.
    if (!answer.find("ETag", tag) || tag.empty() || boost::starts_with(tag, "W/"))
        tag.clear();
    if (tag.empty())
        answer.find("Last-Modified", modified);
    file.etag = tag;
    file.lastModified = modified;
}

bool ResumableTransfer::acceptAnswer(const HttpAnswer& answer)
{
    if (!answer.headers.consistent("Content-Length")) {
        fail(Protocol::kTransferFailed, "应答的长度互相矛盾", "the answer gives two different lengths");
        return false;
    }
    const int64_t known = file.lenSvr;
    int64_t total;
    if (answer.status == 206) {
        if (requestedFrom <= 0) {
            fail(Protocol::kTransferFailed, "服务器对完整请求回应了部分内容", "a part was sent for the whole file");
            return false;
        }
        // Appending anything but the raw rest of this very file would splice two files.
        const ContentRange& range = answer.range;
        std::string encoding, type;
        const bool encoded = answer.headers.find("Content-Encoding", encoding) && !boost::iequals(encoding, "identity");
        const bool multipart = answer.headers.find("Content-Type", type) && boost::istarts_with(type, "multipart/");
        if (!range.present || range.unsatisfied || range.first != requestedFrom ||
            (known > 0 && range.total != known) || answer.contentLength != range.last - range.first + 1 || encoded ||
            multipart) {
            fail(Protocol::kTransferFailed, "续传应答与本地文件不符", "the answer does not continue the local file");
            return false;
        }
        if (!sameVersion()) {
            fail(Protocol::kTransferFailed, "服务器上的文件已改变", "the file changed on the server");
            return false;
        }
        if (file.etag.empty() && file.lastModified.empty())
            keepValidator();
        total = range.total;
        writeFrom = requestedFrom;
    } else {
        keepValidator();
        total = answer.contentLength;  // the whole file: written from its first byte
        writeFrom = 0;
    }
    const bool changed = known <= 0 || known != total;
    file.lenSvr = total;
    if (hooks.length)
        hooks.length(total, changed);
    return true;
}

void ResumableTransfer::sent(unsigned long bytes)
{
    if (hooks.progress)
        hooks.progress(bytes);
}

bool ResumableTransfer::answered(const HttpAnswer& answer)
{
    worker.check("ResumableTransfer::answered");
    if (!acceptAnswer(answer))
        return false;
    if (hooks.name)
        hooks.name(answer.fileName);
    if (failure)  // the name hook found no file to write
        return false;
    bodyBegun = true;
    if (!local.isOpen()) {
        fail(Protocol::kLocalFileFailed, "没有可用的本地文件名", "no local file");
        return false;
    }
    if (writeFrom == 0 && file.lenLoc > 0) {
        const int64_t dropped = file.lenLoc;
        file.lenLoc = 0;
        if (hooks.stored)
            hooks.stored(-dropped);
    }
    // The file is written as it is: it changes only when bytes arrive. Only a file longer than
    // the offset is cut (ext4 writes a file cut to 0 back to disk on close).
    // A file this run made is at its start already.
    const bool placed = local.isNew() && file.lenLoc == 0;
    if (!writer.openDescriptor(local.descriptor(), file.pathLoc) || !(placed || writer.seek(file.lenLoc, SEEK_SET))) {
        failLocally(Protocol::kLocalFileFailed, "打开本地文件失败：", errno);
        return false;
    }
    truncatePending = !local.isNew() && local.size() > file.lenLoc;
    // A large body is written behind the reading: reading the next block overlaps writing this.
    // The writing thread's wake-ups wait with the page's for the network, so one wakes it for a
    // few blocks.
    if (answer.contentLength >= kWriteBehindFrom)
        blockWriter = std::make_unique<Dravik::IO::BlockWriter>(local.descriptor(), file.lenLoc, &DeferredWake::defer);
    if (hooks.begin)
        hooks.begin();
    return !failure;
}

void ResumableTransfer::stored()
{
    if (hooks.progress)
        hooks.progress(0);
}

void ResumableTransfer::received(std::vector<char>& block)
{
    worker.check("ResumableTransfer::received");
    if (!writer.isOpen() || failure)
        return;
    const size_t count = block.size();  // the block writer takes the bytes away
    if (truncatePending) {
        if (!writer.truncate(file.lenLoc)) {
            failLocally(Protocol::kLocalFileFailed, "写入本地文件失败", errno);
            return;
        }
        truncatePending = false;
    }
    if (blockWriter) {
        if (!blockWriter->write(block)) {
            failLocally(Protocol::kLocalFileFailed, "写入本地文件失败", blockWriter->error());
            return;
        }
        countWritten();
        return;
    }
    // Flushed before it counts: the lenLoc a page saves is never ahead of the file.
    if (!writer.write(block.data(), static_cast<uint32_t>(count)) || !writer.flush()) {
        failLocally(Protocol::kLocalFileFailed, "写入本地文件失败", errno);
        return;
    }
    file.lenLoc += static_cast<int64_t>(count);
    if (hooks.stored)
        hooks.stored(static_cast<int64_t>(count));
}

void ResumableTransfer::countWritten()
{
    // Only what the writer has handed to the system counts: lenLoc never runs ahead of the file.
    const int64_t written = blockWriter->written();
    const int64_t fresh = written - counted;
    if (fresh <= 0)
        return;
    counted = written;
    file.lenLoc += fresh;
    if (hooks.stored)
        hooks.stored(fresh);
}

void ResumableTransfer::settleWriter()
{
    if (!blockWriter)
        return;
    const bool ok = blockWriter->finish();
    countWritten();
    if (!ok)
        failLocally(Protocol::kLocalFileFailed, "写入本地文件失败", blockWriter->error());
    blockWriter.reset();
}

void ResumableTransfer::fail(unsigned code, const char* why, std::string reason)
{
    if (failure)
        return;
    failure = code;
    failureReason = std::move(reason);
    ZLOG(why << toAnsi(file.pathLoc) << " " << failureReason);
    request.closeHandles();
}

void ResumableTransfer::failLocally(unsigned code, const char* why, int error)
{
    fail(code, why, error ? std::strerror(error) : "the local file failed");
}

ResumableTransfer::Result ResumableTransfer::judge(bool requestOk)
{
    settleWriter();
    if (failure)
        return ended(Outcome::failed, failure);
    if (stopFlag->load())
        return ended(Outcome::stopped);
    if (!requestOk) {
        if (alreadyWhole())
            return completeOnDisk();
        const int status = request.statusCode;
        failureReason = status > 0 ? request.response().reasonPhrase() : request.failureReason;
        if (failureReason.empty())
            failureReason = status > 0 ? "HTTP " + std::to_string(status) : "the request failed";
        return ended(Outcome::failed, Protocol::kTransferFailed);
    }
    if (file.lenLoc != file.lenSvr) {
        ZLOG("下载不完整,本地长度:" << file.lenLoc.load() << ",服务器长度:" << file.lenSvr.load());
        failureReason =
            request.failureReason.empty() ? "the server sent less than the whole file" : request.failureReason;
        return ended(Outcome::failed, Protocol::kTransferFailed);
    }
    return completeWritten();
}

bool ResumableTransfer::alreadyWhole()
{
    std::string value;
    if (request.statusCode != 416 || requestedFrom <= 0 || !request.response().find("Content-Range", value))
        return false;
    const ContentRange range = ContentRange::parse(value);
    const int64_t known = file.lenSvr;
    if (!range.unsatisfied || range.total != requestedFrom || (known > 0 && known != range.total))
        return false;
    file.lenSvr = range.total;
    if (hooks.length)
        hooks.length(range.total, known <= 0 || known != range.total);
    return true;
}

ResumableTransfer::Result ResumableTransfer::completeOnDisk()
{
    const int64_t total = file.lenSvr;
    if (local.size() > total && ::ftruncate(local.descriptor(), static_cast<off_t>(total)) != 0) {
        failLocally(Protocol::kLocalFileFailed, "写入本地文件失败", errno);
        return ended(Outcome::failed, failure);
    }
    if (local.size() != total) {
        fail(Protocol::kLocalFileFailed, "本地文件长度不符：", "the local file has another length");
        return ended(Outcome::failed, failure);
    }
    file.lenLoc = total;
    return ended(Outcome::complete);
}

ResumableTransfer::Result ResumableTransfer::completeWritten()
{
    // An empty body never reached received(): the file is cut to its length here.
    const bool cut = !truncatePending || writer.truncate(file.lenLoc);
    const bool closed = writer.close();
    int64_t size = -1;
    if (!cut || !closed || !local.stillThere(&size) || size != file.lenSvr) {
        fail(Protocol::kLocalFileFailed, "本地文件已被移除或替换：", "the local file was removed or replaced");
        return ended(Outcome::failed, failure);
    }
    return ended(Outcome::complete);
}

ResumableTransfer::Result ResumableTransfer::ended(Outcome outcome, unsigned code)
{
    settleWriter();  // no thread writes the file once it is released
    writer.close();
    local.release(outcome == Outcome::complete);
    Result result;
    result.outcome = outcome;
    result.code = code;
    result.bodyBegun = bodyBegun;
    if (outcome == Outcome::failed) {
        result.status = request.statusCode;
        result.reason = failureReason;
    }
    return result;
}
