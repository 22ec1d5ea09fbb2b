#include "component/DownItem.h"

#include "hosting/Protocol.h"
#include "log/Log.h"
#include "support/Path.h"
#include "support/Text.h"

#include <utility>

namespace M = Protocol::Member;

void DownItem::fromJson(const Json::Value& task)
{
    // Read in this order so that a conversion error leaves the same partial record each time.
    const int64_t serverLength = jsonToInt64(task[M::lenSvr]);
    const int64_t localLength = jsonToInt64(task[M::lenLoc]);
    const std::string path = task[M::pathLoc].asString();
    const std::string name = task[M::nameLoc].asString();
    std::string url = task[M::fileUrl].asString();
    const std::string custom = task[M::nameCustom].asString();
    const int32_t serverId = task[M::idSvr].asInt();
    const bool done = task[M::complete].asBool();
    std::string entityTag = task[M::etag].asString();
    std::string modified = task[M::lastModified].asString();

    lenSvr = serverLength;
    lenLoc = localLength;
    idSvr = serverId;
    fileUrl = std::move(url);
    id = task[M::id].asInt();
    nameLoc = fromUtf8(name);
    nameCustom = fromUtf8(custom);
    complete = done;
    pathLoc = fromUtf8(path);
    lastModified = entityTag.empty() ? std::move(modified) : std::string();
    etag = std::move(entityTag);

    // The record keeps nothing of M::fields, but a malformed one is still rejected.
    const Json::Value& fields = task[M::fields];
    for (const std::string& member : fields.getMemberNames())
        fields[member].asString();

    ZLOG("本地文件路径：" << toAnsi(pathLoc));
}

void DownItem::toJson(EventText& task) const
{
    const int64_t local = lenLoc;
    const int64_t server = lenSvr;
    task.string(M::nameLoc, toUtf8(pathFileName(pathLoc)))
        .string(M::ext, toUtf8(pathExtension(pathLoc)))
        .number(M::lenLoc, local)
        .number(M::lenSvr, server)
        .string(M::sizeSvr, toUtf8(sizeText(server)))
        .string(M::sizeLoc, toUtf8(sizeText(local)))
        .string(M::pathLoc, toUtf8(pathLoc))
        .string(M::fileUrl, fileUrl);
    writeValidators(task);
}

void DownItem::writeValidators(EventText& members) const
{
    if (!etag.empty())
        members.string(M::etag, etag);
    if (!lastModified.empty())
        members.string(M::lastModified, lastModified);
}
