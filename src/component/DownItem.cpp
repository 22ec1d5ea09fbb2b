#include "component/DownItem.h"

#include "log/Log.h"
#include "support/Path.h"
#include "support/Text.h"

void DownItem::fromJson(const Json::Value& task)
{
    // Read in this order so that a conversion error leaves the same partial record each time.
    const int64_t serverLength = jsonToInt64(task.get("lenSvr", Json::Value()));
    const int64_t localLength = jsonToInt64(task.get("lenLoc", Json::Value()));
    const std::string path = task.get("pathLoc", "").asString();
    const std::string name = task.get("nameLoc", "").asString();
    const std::string url = task.get("fileUrl", "").asString();
    const std::string custom = task.get("nameCustom", "").asString();
    const int32_t serverId = task.get("idSvr", 0).asInt();
    const bool done = task.get("complete", false).asBool();

    lenSvr = serverLength;
    lenLoc = localLength;
    idSvr = serverId;
    fileUrl = url;
    id = task.get("id", 0).asInt();
    nameLoc = fromUtf8(name);
    nameCustom = fromUtf8(custom);
    complete = done;
    pathLoc = fromUtf8(path);

    // The record keeps nothing of "fields", but a malformed one is still rejected.
    const Json::Value fields = task.get("fields", Json::Value());
    for (const std::string& member : fields.getMemberNames())
        fields.get(member, "").asString();

    ZLOG("本地文件路径：" << toAnsi(pathLoc));
}

void DownItem::toJson(Json::Value& task)
{
    const int64_t local = lenLoc;
    const int64_t server = lenSvr;
    task["nameLoc"] = toUtf8(pathFileName(pathLoc));
    task["ext"] = toUtf8(pathExtension(pathLoc));
    task["lenLoc"] = Json::Int64(local);
    task["lenSvr"] = Json::Int64(server);
    task["sizeSvr"] = toUtf8(sizeText(server));
    task["sizeLoc"] = toUtf8(sizeText(local));
    task["pathLoc"] = toUtf8(pathLoc);
    task["fileUrl"] = fileUrl;
}
