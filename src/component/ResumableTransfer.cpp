#include "component/ResumableTransfer.h"

#include "component/Config.h"
#include "component/Protocol.h"
#include "log/Log.h"
#include "net/HttpHeader.h"
#include "support/Path.h"
#include "support/Text.h"

#include <boost/xpressive/xpressive.hpp>

#include <cstdio>

ResumableTransfer::ResumableTransfer(DownItem& task, StopFlag stop) : file(task), stopFlag(std::move(stop))
{
    request.verb = L"GET";
    request.stopFlag = stopFlag;
    request.onSent.connect([this](unsigned long count) {
        if (hooks.progress)
            hooks.progress(count);
    });
    request.onContentLength.connect([this](int64_t length) { contentLength = length; });
    request.onContentRange.connect([this](int64_t first, int64_t last, int64_t total) {
        // Without a match the request reports 0-0: only a range that says something counts.
        hasRange = !(first == 0 && last == 0 && total == 0);
        rangeFirst = first;
        rangeTotal = total;
    });
    request.onFileName.connect([this](const std::wstring& name) { onName(name); });
    request.onBodyStart.connect([this] { onBodyStart(); });
    request.onData.connect([this](char* bytes, unsigned long count) { onData(bytes, count); });
}

int64_t ResumableTransfer::settledOffset(const DownItem& task)
{
    const int64_t saved = task.lenLoc;
    const int64_t total = task.lenSvr;
    if (saved <= 0 || (total > 0 && saved > total) || !pathExists(task.pathLoc) || saved > fileSize(task.pathLoc))
        return 0;
    return saved;
}

bool ResumableTransfer::settleNewPath(const std::wstring& path)
{
    worker.check("ResumableTransfer::settleNewPath");
    const std::wstring claimed = claim.claimFree(path);
    if (claimed.empty())
        return false;
    file.pathLoc = claimed;
    return true;
}

ResumableTransfer::Result ResumableTransfer::run()
{
    worker.check("ResumableTransfer::run");
    if (stopFlag->load())
        return ended(Outcome::stopped);
    if (!file.pathLoc.empty() && !claim.claim(file.pathLoc)) {
        ZLOG("本地文件正被另一个任务写入：" << toAnsi(file.pathLoc));
        return ended(Outcome::failed, Protocol::kLocalFileFailed);
    }
    file.lenLoc = settledOffset(file);
    if (file.lenSvr > 0 && file.lenLoc == file.lenSvr)
        return completeOnDisk();

    HttpHeader header;
    header.removeHeader("Content-Type");
    header.removeHeader("Accept");
    header.setRange(file.lenLoc, file.lenSvr - 1);  // the last byte, inclusive
    header.setCookie(Config::instance().cookie());
    request.setHeaders(header.build());
    request.stallSeconds = Config::instance().stallSeconds.load();

    requestedFrom = file.lenLoc;
    const bool ok = request.request(fromUtf8(file.fileUrl), L"");
    return judge(ok);
}

bool ResumableTransfer::acceptAnswer()
{
    if (answerChecked)
        return answerAccepted;
    answerChecked = true;
    const int64_t known = file.lenSvr;
    int64_t total;
    if (request.statusCode == 206) {
        if (requestedFrom <= 0) {
            fail(Protocol::kTransferFailed, "服务器对完整请求回应了部分内容");
            return false;
        }
        // Appending anything but the rest of this very file would splice two files.
        if (!hasRange || rangeFirst != requestedFrom || (known > 0 && rangeTotal != known)) {
            fail(Protocol::kTransferFailed, "续传应答与本地文件不符");
            return false;
        }
        total = rangeTotal;
        writeFrom = requestedFrom;
    } else {
        total = contentLength;  // the whole file: written from its first byte
        writeFrom = 0;
    }
    const bool changed = known <= 0 || known != total;
    file.lenSvr = total;
    answerAccepted = true;
    if (hooks.length)
        hooks.length(total, changed);
    return true;
}

void ResumableTransfer::onName(const std::wstring& name)
{
    worker.check("ResumableTransfer::onName");
    if (acceptAnswer() && hooks.name)
        hooks.name(name);
}

void ResumableTransfer::onBodyStart()
{
    worker.check("ResumableTransfer::onBodyStart");
    if (!acceptAnswer() || failure)
        return;
    bodyBegun = true;
    if (file.pathLoc.empty()) {
        fail(Protocol::kLocalFileFailed, "没有可用的本地文件名");
        return;
    }
    if (writeFrom == 0 && file.lenLoc > 0) {
        const int64_t dropped = file.lenLoc;
        file.lenLoc = 0;
        if (hooks.stored)
            hooks.stored(-dropped);
    }
    // An existing file is opened without emptying it: it changes only when bytes arrive. Only a
    // file longer than the offset is cut (ext4 writes a file cut to 0 back to disk on close).
    const bool existed = pathExists(file.pathLoc);
    if (!writer.openWithMode(file.pathLoc, existed ? L"rb+" : L"wb") || !writer.seek(file.lenLoc, SEEK_SET)) {
        fail(Protocol::kLocalFileFailed, "打开本地文件失败：");
        return;
    }
    truncatePending = existed && fileSize(file.pathLoc) > file.lenLoc;
    if (hooks.begin)
        hooks.begin();
}

void ResumableTransfer::onData(const char* bytes, unsigned long count)
{
    worker.check("ResumableTransfer::onData");
    if (!writer.isOpen() || failure)
        return;
    if (truncatePending) {
        if (!writer.truncate(file.lenLoc)) {
            fail(Protocol::kLocalFileFailed, "写入本地文件失败");
            return;
        }
        truncatePending = false;
    }
    // Flushed before it counts: the lenLoc a page saves is never ahead of the file.
    if (!writer.write(bytes, static_cast<uint32_t>(count)) || !writer.flush()) {
        fail(Protocol::kLocalFileFailed, "写入本地文件失败");
        return;
    }
    file.lenLoc += static_cast<int64_t>(count);
    if (hooks.stored)
        hooks.stored(static_cast<int64_t>(count));
}

void ResumableTransfer::fail(unsigned code, const char* why)
{
    if (failure)
        return;
    failure = code;
    ZLOG(why << toAnsi(file.pathLoc));
    request.closeHandles();
}

ResumableTransfer::Result ResumableTransfer::judge(bool requestOk)
{
    if (failure)
        return ended(Outcome::failed, failure);
    if (stopFlag->load())
        return ended(Outcome::stopped);
    if (!requestOk) {
        if (alreadyWhole())
            return completeOnDisk();
        return ended(Outcome::failed, Protocol::kTransferFailed);
    }
    if (file.lenLoc != file.lenSvr) {
        ZLOG("下载不完整,本地长度:" << file.lenLoc.load() << ",服务器长度:" << file.lenSvr.load());
        return ended(Outcome::failed, Protocol::kTransferFailed);
    }
    return completeWritten();
}

bool ResumableTransfer::alreadyWhole()
{
    std::string range;
    if (request.statusCode != 416 || requestedFrom <= 0 || !request.response().find("Content-Range", range))
        return false;
    using namespace boost::xpressive;
    // Never destroyed: detached workers may still judge an answer while the process exits.
    static const sregex* const unsatisfied = new sregex(sregex::compile("bytes\\s+\\*/(\\d+)"));
    smatch match;
    if (!regex_match(range, match, *unsatisfied))
        return false;
    const int64_t total = parseInt64(match[1].str());
    const int64_t known = file.lenSvr;
    if (total != requestedFrom || (known > 0 && known != total))
        return false;
    file.lenSvr = total;
    if (hooks.length)
        hooks.length(total, known <= 0 || known != total);
    return true;
}

ResumableTransfer::Result ResumableTransfer::completeOnDisk()
{
    const int64_t total = file.lenSvr;
    if (fileSize(file.pathLoc) > total) {
        Dravik::IO::FileWriter cutter;
        if (!cutter.openWithMode(file.pathLoc, L"rb+") || !cutter.truncate(total) || !cutter.close())
            return ended(Outcome::failed, Protocol::kLocalFileFailed);
    }
    if (fileSize(file.pathLoc) != total) {
        ZLOG("本地文件长度不符：" << toAnsi(file.pathLoc));
        return ended(Outcome::failed, Protocol::kLocalFileFailed);
    }
    file.lenLoc = total;
    return ended(Outcome::complete);
}

ResumableTransfer::Result ResumableTransfer::completeWritten()
{
    // An empty body never reached onData: the file is cut to its length here.
    const bool cut = !truncatePending || writer.truncate(file.lenLoc);
    const bool here = writer.isFileAt(file.pathLoc);
    const bool closed = writer.close();
    if (!cut || !here || !closed || fileSize(file.pathLoc) != file.lenSvr) {
        ZLOG("本地文件已被移除或替换：" << toAnsi(file.pathLoc));
        return ended(Outcome::failed, Protocol::kLocalFileFailed);
    }
    return ended(Outcome::complete);
}

ResumableTransfer::Result ResumableTransfer::ended(Outcome outcome, unsigned code)
{
    writer.close();
    claim.release();
    Result result;
    result.outcome = outcome;
    result.code = code;
    result.bodyBegun = bodyBegun;
    return result;
}
