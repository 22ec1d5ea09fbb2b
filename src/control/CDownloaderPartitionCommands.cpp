// The command handlers of the control and its command table.
#include "control/CDownloaderPartition.h"

#include "component/Config.h"
#include "component/FdDownItem.h"
#include "component/TaskMgr.h"
#include "hosting/Protocol.h"
#include "log/Log.h"
#include "platform/FolderPicker.h"
#include "support/JsonText.h"
#include "support/Path.h"
#include "support/Text.h"

#include <algorithm>
#include <cmath>
#include <limits>
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

namespace {

// A setting of another JSON type than its own counts as absent (logged), so that one wrong
// member never costs the page its "load_complete".
bool present(const Json::Value& value, bool rightType, const char* key)
{
    if (value.isNull())
        return false;
    if (!rightType)
        ZLOG("设置类型错误，使用默认值：" << key);
    return rightType;
}

std::string textSetting(const Json::Value& config, const char* key)
{
    const Json::Value& value = config[key];
    return present(value, value.isString(), key) ? value.asString() : std::string();
}

bool flagSetting(const Json::Value& config, const char* key)
{
    const Json::Value& value = config[key];
    return present(value, value.isBool() || value.isNumeric(), key) && value.asBool();
}

// An integral number; one beyond 32 bits is held at the nearest 32-bit value.
int32_t numberSetting(const Json::Value& config, const char* key, int32_t fallback)
{
    const Json::Value& value = config[key];
    const bool integral = value.isIntegral() || (value.isDouble() && value.asDouble() == std::trunc(value.asDouble()));
    if (!present(value, integral, key))
        return fallback;
    const double number = value.asDouble();
    if (number >= std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (number <= std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value.asLargestInt());
}

}  // namespace

void CDownloaderPartition::onInit(Json::Value& message)
{
    namespace Setting = Protocol::Setting;
    const Json::Value config = message[Protocol::Member::config];
    if (config.empty() || !config.isObject())
        return;
    const std::string folder = textSetting(config, Setting::folder);
    const std::string logFile = textSetting(config, Setting::logFile);
    const std::string cookie = textSetting(config, Setting::cookie);
    const bool debug = flagSetting(config, Setting::debug);
    const int32_t threadCount = numberSetting(config, Setting::threadCount, 1);
    const int32_t filePart = numberSetting(config, Setting::filePart, Protocol::kDefaultFilePart);

    Config& settings = Config::instance();
    settings.setCookie(cookie);
    settings.threadCount = std::min(threadCount, Protocol::kMaxThreadCount);
    // A page that names no folder downloads into the user's download folder.
    settings.setFolder(folder.empty() && settings.confined() ? settings.defaultRoot() : fromUtf8(folder));
    settings.filePart = filePart;
    if (debug && !logFile.empty()) {
        if (!settings.confined()) {
            Log::instance().setUp(true, fromUtf8(logFile));
        } else {
            // A page names its log, never where it goes nor what it replaces.
            const std::wstring name = plainFileName(fromUtf8(logFile));
            if (!name.empty())
                Log::instance().setUp(true, pathJoin(settings.logFolder(), name), true);
        }
    }
    TaskMgr::instance().clearTasks();

    Json::Value loaded;
    loaded[Protocol::Member::name] = Protocol::Event::loadComplete;
    loaded[Protocol::Member::browser] = Protocol::kBrowser;
    loaded[Protocol::Member::version] = toUtf8(kVersion);
    sendText(writeCompactJson(loaded));
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
    Json::Value chosen;
    chosen[Protocol::Member::name] = Protocol::Event::folderChosen;
    if (choice.outcome == FolderPicker::Choice::Outcome::chosen) {
        Config& settings = Config::instance();
        settings.setFolder(choice.path);
        // The user chose it: the page may write there from now on, and later too.
        if (settings.confined()) {
            settings.allowRoot(choice.path);
            if (m_pageRules)
                m_pageRules->RememberFolder(choice.path);
        }
        chosen[Protocol::Member::folder] = toUtf8(choice.path);
    }
    sendText(writeCompactJson(chosen));
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
    // The listing's tree is let go before the folder is laid out and reported: with many
    // thousand files, it and "init_end" together set the peak memory of the whole run.
    message = Json::Value();
    item->layOutIfNew();
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
