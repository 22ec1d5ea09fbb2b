// The command handlers of the control and its command table.
#include "control/CDownloaderPartition.h"

#include "component/Config.h"
#include "component/FdDownItem.h"
#include "component/Protocol.h"
#include "component/TaskMgr.h"
#include "log/Log.h"
#include "platform/FolderPicker.h"
#include "support/Text.h"

#include <algorithm>

void CDownloaderPartition::fillCommands()
{
    m_commands[Protocol::Command::init] = [this](Json::Value& message) { onInit(message); };
    m_commands[Protocol::Command::openFolder] = [this](Json::Value& message) { onOpenFolder(message); };
    m_commands[Protocol::Command::addFile] = [this](Json::Value& message) { onAddFile(message); };
    m_commands[Protocol::Command::addFolder] = [this](Json::Value& message) { onAddFolder(message); };
    m_commands[Protocol::Command::stopFile] = [this](Json::Value& message) { onStopFile(message); };
    m_commands[Protocol::Command::startQueue] = [this](Json::Value& message) { onStartQueue(message); };
    m_commands[Protocol::Command::stopQueue] = [this](Json::Value& message) { onStopQueue(message); };
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
    const int filePart = config.get("FilePart", Protocol::kDefaultFilePart).asInt();

    Config& settings = Config::instance();
    settings.setCookie(cookie);
    settings.threadCount = std::min(threadCount, Protocol::kMaxThreadCount);
    settings.setFolder(fromUtf8(folder));
    settings.filePart = filePart;
    if (debug && !logFile.empty())
        Log::instance().setUp(true, fromUtf8(logFile));
    TaskMgr::instance().clearTasks();

    Json::Value loaded;
    loaded[Protocol::Member::name] = Protocol::Event::loadComplete;
    loaded["browser"] = "ie32";
    loaded["version"] = toUtf8(kVersion);
    sendJson(loaded);
}

void CDownloaderPartition::onOpenFolder(Json::Value&)
{
    std::wstring chosen;
    if (!FolderPicker::current()->pick(L"选择文件夹", chosen))
        return;
    Config::instance().setFolder(chosen);
}

void CDownloaderPartition::onAddFile(Json::Value& message)
{
    auto item = std::make_shared<DownItem>();
    item->fromJson(message);
    TaskMgr::instance().addTask(item);
}

void CDownloaderPartition::onAddFolder(Json::Value& message)
{
    auto item = std::make_shared<FdDownItem>();
    item->fromJson(message);
    TaskMgr::instance().addTask(item);
}

void CDownloaderPartition::onStopFile(Json::Value& message)
{
    TaskMgr::instance().stopTask(message.get(Protocol::Member::id, 0).asInt());
}

void CDownloaderPartition::onStartQueue(Json::Value&)
{
    TaskMgr::instance().startQueue();
}

void CDownloaderPartition::onStopQueue(Json::Value&)
{
    TaskMgr::instance().stopQueue();
}
