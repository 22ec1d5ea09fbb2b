// Command texts as a page posts them, one per line, through the control in its apartment.
// No download starts: the queue is never started; a new folder's root is made in a temporary
// download folder of this run, which no "init" may change; events go to no callback;
// "open_folder" (a dialog) and a log file are left out.
#include "component/Config.h"
#include "component/TaskMgr.h"
#include "control/CDownloaderPartition.h"
#include "hosting/Protocol.h"
#include "platform/Apartment.h"
#include "support/JsonText.h"
#include "support/Text.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

struct Page {
    std::shared_ptr<Apartment> apartment = Apartment::create();
    ComPtr<CDownloaderPartition> control;
};
Page* page;              // for the whole run
std::wstring downloads;  // made by the initialiser, then read-only

// The text as postMessage will read it, checked for what must not run here.
bool allowed(const std::wstring& text)
{
    namespace Command = Protocol::Command;
    Json::Value message;
    if (!parseJson(toUtf8(text), message) || !message.isObject() || !message[Protocol::Member::name].isString())
        return true;
    const std::string name = message[Protocol::Member::name].asString();
    const Json::Value& config = message[Protocol::Member::config];
    return name != Command::startQueue && name != Command::openFolder &&
           !(name == Command::init && config.isObject() &&
             (config.isMember(Protocol::Setting::logFile) || config.isMember(Protocol::Setting::folder)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char folder[] = "/tmp/zv-fuzz-commands-XXXXXX";
    if (!::mkdtemp(folder))
        std::abort();
    downloads = fromUtf8(folder);
    static const std::string made = folder;
    std::atexit([] { ::rmdir(made.c_str()); });  // empty by then: each root goes with its record
    page = new Page;
    page->apartment->invoke([] {
        CDownloaderPartition* created = nullptr;
        if (CDownloaderPartition::create(&created) != S_OK)
            std::abort();
        page->control = ComPtr<CDownloaderPartition>::adopt(created);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    page->apartment->invoke([&] {
        Config::instance().setFolder(downloads);
        for (size_t start = 0; start <= text.size();) {
            const size_t end = std::min(text.find('\n', start), text.size());
            const std::wstring command = fromUtf8(text.substr(start, end - start));
            if (allowed(command))
                page->control->postMessage(command);
            start = end + 1;
        }
        TaskMgr::instance().clearTasks();
    });
    return 0;
}
