// The names and limits of the JSON protocol between the control and its page: commands, events,
// members, error codes, the bounds of the settings and of a command. The control and every host
// spell them from here. Pages depend on every text here exactly
// as written ("down_stoped" included), so they are spelled once, in this file.
//
// Constants only; usable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Protocol {

// Commands the page sends through postMessage.
namespace Command {
constexpr const char* init = "init";
constexpr const char* openFolder = "open_folder";
constexpr const char* addFile = "add_file";
constexpr const char* addFolder = "add_folder";
constexpr const char* stopFile = "stop_file";
constexpr const char* startQueue = "start_queue";
constexpr const char* stopQueue = "stop_queue";
}  // namespace Command

// Events the control sends to the page's callback.
namespace Event {
constexpr const char* loadComplete = "load_complete";
constexpr const char* queueBegin = "queue_begin";
constexpr const char* queueComplete = "queue_complete";
constexpr const char* queueEnd = "queue_end";
constexpr const char* initEnd = "init_end";
constexpr const char* downBegin = "down_begin";
constexpr const char* downProcess = "down_process";
constexpr const char* downPart = "down_part";
constexpr const char* downComplete = "down_complete";
constexpr const char* downError = "down_error";
constexpr const char* downRecvSize = "down_recv_size";
constexpr const char* downRecvName = "down_recv_name";
constexpr const char* downStopped = "down_stoped";
constexpr const char* folderChosen = "folder_chosen";
}  // namespace Event

// Members of commands and events.
namespace Member {
constexpr const char* name = "name";
constexpr const char* id = "id";
constexpr const char* code = "code";
constexpr const char* file = "file";
constexpr const char* folder = "folder";
constexpr const char* all = "all";
constexpr const char* success = "success";
constexpr const char* len = "len";
constexpr const char* size = "size";
constexpr const char* nameSvr = "nameSvr";
constexpr const char* pathLoc = "pathLoc";
constexpr const char* lenLoc = "lenLoc";
constexpr const char* lenSvr = "lenSvr";
constexpr const char* sizeLoc = "sizeLoc";
constexpr const char* sizeRecv = "sizeRecv";
constexpr const char* percent = "percent";
constexpr const char* time = "time";
constexpr const char* speed = "speed";
constexpr const char* files = "files";
// Task objects ("add_file", "add_folder", "init_end").
constexpr const char* nameLoc = "nameLoc";
constexpr const char* nameCustom = "nameCustom";
constexpr const char* fileUrl = "fileUrl";
constexpr const char* idSvr = "idSvr";
constexpr const char* complete = "complete";
constexpr const char* fields = "fields";
constexpr const char* ext = "ext";
constexpr const char* sizeSvr = "sizeSvr";
constexpr const char* errors = "errors";
// The server's validator of a file, kept by the page and sent back to resume.
constexpr const char* etag = "etag";
constexpr const char* lastModified = "lastModified";
// "down_error": the HTTP status when the server answered, and why in a few words.
constexpr const char* status = "status";
constexpr const char* reason = "reason";
// "init" and "load_complete".
constexpr const char* config = "config";
constexpr const char* browser = "browser";
constexpr const char* version = "version";
// A folder's success count is read back as "success" but written as "succes": pages read that.
constexpr const char* successWritten = "succes";
}  // namespace Member

// Keys of the "config" object of "init".
namespace Setting {
constexpr const char* folder = "Folder";
constexpr const char* logFile = "LogFile";
constexpr const char* cookie = "Cookie";
constexpr const char* debug = "Debug";
constexpr const char* threadCount = "ThreadCount";
constexpr const char* filePart = "FilePart";
}  // namespace Setting

// "browser" of "load_complete": the page's scripts take it for the platform they run on.
constexpr const char* kBrowser = "ie32";

// "code" of "down_error".
enum ErrorCode : unsigned {
    kTransferFailed = 1,   // the server or the network failed, or answered what cannot be used
    kLocalFileFailed = 2,  // the local file could not be opened, written or kept
    kFileBusy = 3,         // another download writes the file now; worth a retry later
};

// Jobs that may run at once: "ThreadCount" is capped here, and the queue's pool has this many
// permits.
constexpr int32_t kMaxThreadCount = 5;
// "FilePart" when the page gives none: bytes of growth between two "down_part" events.
constexpr int32_t kDefaultFilePart = 0x100000;
// The longest command a host hands the control: far above any a page sends (a folder of many
// thousand files), far below what would strain a host (the control's wide copy alone takes four
// times as much).
constexpr size_t kMaxCommandBytes = 16 * 1024 * 1024;

}  // namespace Protocol
