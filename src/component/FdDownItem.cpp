#include "component/FdDownItem.h"

#include "component/Config.h"
#include "component/FreeName.h"
#include "component/TaskMgr.h"
#include "hosting/Protocol.h"
#include "support/ConfinedFolder.h"
#include "support/Path.h"
#include "support/Text.h"

#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <unordered_set>

namespace M = Protocol::Member;

FdDownItem::FdDownItem()
{
    kind = kFolderKind;
}

FdDownItem::~FdDownItem()
{
    if (!madeRoot.empty())
        ::rmdir(madeRoot.c_str());  // fails, as it should, once anything is inside
}

void FdDownItem::fromJson(const Json::Value& task)
{
    DownItem::fromJson(task);
    errors = task[M::errors].asInt();
    success = task[M::success].asInt();

    // Index access throws for a non-empty object; a string, number or boolean has no elements.
    const Json::Value& list = task[M::files];
    std::vector<std::shared_ptr<DownItem>> read;
    read.reserve(list.size());
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        auto file = std::make_shared<DownItem>();
        file->fromJson(list[i]);
        file->id = static_cast<int32_t>(i);
        read.push_back(std::move(file));
    }
    files = std::move(read);
}

void FdDownItem::layOutIfNew()
{
    if (lenLoc <= 0) {
        layOut(pathLoc);
        sendInitEnd();
    }
}

void FdDownItem::layOut(const std::wstring& serverFolder)
{
    Config& settings = Config::instance();
    Dravik::IO::ConfinedFolder downloads;
    // Nothing is made in a folder that cannot be opened or that a page may not write: the run
    // then fails there, with nothing written.
    const bool usable =
        downloads.open(settings.folder()) && (!settings.confined() || settings.allowsFolder(downloads.resolved()));
    std::wstring name = plainFileName(nameLoc);
    if (name.empty())
        name = L"download";
    if (usable) {
        // Made now, exclusively: no other task of any process can take the same root.
        const std::wstring made = FreeName::claim(downloads.resolved(), name, [&](const std::wstring& candidate) {
            if (downloads.makeDirectory(toUtf8(candidate)))
                return FreeName::Attempt::made;
            return errno == EEXIST ? FreeName::Attempt::taken : FreeName::Attempt::failed;
        });
        if (!made.empty()) {
            name = made;
            madeRoot = fileSystemPath(downloads.resolved() + L"/" + made);
        }
    }
    nameLoc = name;
    const std::wstring root = pathJoin(downloads.given(), name);
    // Views of the paths given so far: each is a file's own pathLoc, which stays where it is
    // while the set lives; a copy of every path would double the memory a large folder takes.
    std::unordered_set<std::wstring_view> placed;
    placed.reserve(files.size());
    for (auto& file : files) {
        std::wstring rest = file->pathLoc;
        const size_t at = serverFolder.empty() ? std::wstring::npos : rest.find(serverFolder);
        if (at != std::wstring::npos)
            rest.erase(at, serverFolder.size());
        // Whatever the listing says, the file lands inside the root.
        std::wstring path = pathJoinConfined(root, rest);
        if (path == root)
            path = pathJoin(root, L"download");
        if (placed.count(path)) {
            const std::wstring base = pathFileName(path);
            const std::wstring directory = path.substr(0, path.size() - base.size());
            for (uint64_t n = 1; placed.count(path = directory + numberedFileName(base, n)); ++n) {
            }
        }
        file->pathLoc = std::move(path);
        placed.insert(file->pathLoc);
    }
    pathLoc = root;
}

void FdDownItem::sendInitEnd()
{
    EventText event;
    toJson(event);
    if (!files.empty()) {
        EventList list;
        for (const auto& file : files) {
            EventText entry;
            file->toJson(entry);
            list.add(entry);
        }
        event.list(M::files, std::move(list));
    }
    event.string(M::name, Protocol::Event::initEnd).number(M::id, id);
    TaskMgr::instance().sendText(event.line());
}

void FdDownItem::toJson(EventText& task) const
{
    DownItem::toJson(task);
    task.string(M::nameLoc, toUtf8(nameLoc)).number(M::errors, errors).number(M::successWritten, success);
}
