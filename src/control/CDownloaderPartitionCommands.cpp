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
#include <memory>
#include <mutex>
#include <thread>

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
    namespace Setting = Protocol::Setting;
    const Json::Value config = message[Protocol::Member::config];
    if (config.empty())
        return;
    // Everything is read first, so a member of the wrong type changes nothing.
    const std::string folder = config.get(Setting::folder, "").asString();
    const std::string logFile = config.get(Setting::logFile, "").asString();
    const std::string cookie = config.get(Setting::cookie, "").asString();
    const bool debug = config.get(Setting::debug, false).asBool();
    const int threadCount = config.get(Setting::threadCount, 1).asInt();
    const int filePart = config.get(Setting::filePart, Protocol::kDefaultFilePart).asInt();

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
    loaded[Protocol::Member::browser] = Protocol::kBrowser;
    loaded[Protocol::Member::version] = toUtf8(kVersion);
    sendJson(loaded);
}

void CDownloaderPartition::onOpenFolder(Json::Value&)
{
    // The dialog runs on a thread of its own while this thread pumps, as a modal dialog's loop
    // does: events and the page's other calls go on while it is open.
    struct Answer {
        std::mutex lock;
        bool given = false;           // guarded by lock
        FolderPicker::Choice choice;  // written before `given`, read after it
    };
    auto answer = std::make_shared<Answer>();
    std::thread dialog([picker = FolderPicker::current(), answer, page = m_apartment] {
        FolderPicker::Choice choice = picker->pick(L"选择文件夹");
        {
            std::lock_guard<std::mutex> lock(answer->lock);
            answer->choice = std::move(choice);
            answer->given = true;
        }
        page->wake();
    });
    m_apartment->pumpUntil([&] {
        std::lock_guard<std::mutex> lock(answer->lock);
        return answer->given;
    });
    dialog.join();
    const FolderPicker::Choice& choice = answer->choice;
    if (choice.outcome == FolderPicker::Choice::Outcome::unavailable)
        ZLOG("无法显示选择文件夹对话框：" << choice.reason);
    if (choice.outcome == FolderPicker::Choice::Outcome::chosen)
        Config::instance().setFolder(choice.path);
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
