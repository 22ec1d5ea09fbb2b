// The command handlers of the control and its command table.
#include "control/CDownloaderPartition.h"

#include "component/Config.h"
#include "component/TaskMgr.h"
#include "log/Log.h"
#include "support/Text.h"

#include <algorithm>

void CDownloaderPartition::fillCommands()
{
    m_commands["init"] = [this](Json::Value& message) { onInit(message); };
}

void CDownloaderPartition::onInit(Json::Value& message)
{
    const Json::Value config = message["config"];
    if (config.empty())
        return;
    // Everything is read first, so a member of the wrong type changes nothing.
    const std::string folder = config.get("Folder", "").asString();
    const std::string logFile = config.get("LogFile", "").asString();
    const std::string cookie = config.get("Cookie", "").asString();
    const bool debug = config.get("Debug", false).asBool();
    const int threadCount = config.get("ThreadCount", 1).asInt();
    const int filePart = config.get("FilePart", 0x100000).asInt();

    Config& settings = Config::instance();
    settings.setCookie(cookie);
    settings.threadCount = std::min(threadCount, 5);
    settings.setFolder(fromUtf8(folder));
    settings.filePart = filePart;
    if (debug && !logFile.empty())
        Log::instance().setUp(true, fromUtf8(logFile));
    TaskMgr::instance().clearTasks();

    Json::Value loaded;
    loaded["name"] = "load_complete";
    loaded["browser"] = "ie32";
    loaded["version"] = toUtf8(kVersion);
    sendJson(loaded);
}
