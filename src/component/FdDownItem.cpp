#include "component/FdDownItem.h"

#include "component/Config.h"
#include "component/Protocol.h"
#include "component/TaskMgr.h"
#include "support/Path.h"
#include "support/Text.h"

namespace M = Protocol::Member;

FdDownItem::FdDownItem()
{
    kind = kFolderKind;
}

void FdDownItem::fromJson(const Json::Value& task)
{
    DownItem::fromJson(task);
    errors = task.get(M::errors, 0).asInt();
    success = task.get(M::success, 0).asInt();

    // Index access throws for a non-empty object; a string, number or boolean has no elements.
    const Json::Value& list = task[M::files];
    std::vector<std::shared_ptr<DownItem>> read;
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        auto file = std::make_shared<DownItem>();
        file->fromJson(list[i]);
        file->id = static_cast<int32_t>(i);
        read.push_back(std::move(file));
    }
    files = std::move(read);

    if (lenLoc <= 0) {
        layOut(pathLoc);
        sendInitEnd();
    }
}

void FdDownItem::layOut(const std::wstring& serverFolder)
{
    const std::wstring downloads = Config::instance().folder();
    std::wstring root = pathJoinConfined(downloads, nameLoc);
    // A folder of its own never merges into one that is already there: it is numbered.
    if (root != pathJoin(downloads, L"")) {
        const std::wstring free = rootClaim.claimFree(root);
        if (!free.empty() && free != root) {
            root = free;
            nameLoc = pathFileName(root);
        }
    }
    for (auto& file : files) {
        std::wstring rest = file->pathLoc;
        const size_t at = serverFolder.empty() ? std::wstring::npos : rest.find(serverFolder);
        if (at != std::wstring::npos)
            rest.erase(at, serverFolder.size());
        // Whatever the listing says, the file lands inside the root.
        file->pathLoc = pathJoinConfined(root, rest);
    }
    pathLoc = root;
}

void FdDownItem::sendInitEnd()
{
    Json::Value event;
    toJson(event);
    for (const auto& file : files) {
        Json::Value entry(Json::objectValue);
        file->toJson(entry);
        event[M::files].append(entry);
    }
    event[M::name] = Protocol::Event::initEnd;
    event[M::id] = id;
    TaskMgr::instance().sendEvent(event);
}

void FdDownItem::toJson(Json::Value& task)
{
    DownItem::toJson(task);
    task[M::nameLoc] = toUtf8(nameLoc);
    task[M::errors] = errors;
    task[M::successWritten] = success;
}
