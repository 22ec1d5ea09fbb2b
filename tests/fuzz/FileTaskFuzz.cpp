// The task object of a file as a page sends it with "add_file": read without fault, and what
// is read comes back unchanged through the object the control writes for the page.
#include "component/DownItem.h"
#include "support/JsonText.h"

#include <json/value.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Json::Value task;
    if (!parseJson(std::string(reinterpret_cast<const char*>(data), size), task))
        return 0;
    DownItem item;
    try {
        item.fromJson(task);
    } catch (const Json::LogicError&) {
        return 0;  // a member of a type the task format does not allow: the command is dropped
    }
    EventText text;
    item.toJson(text);
    Json::Value written;
    if (!parseJson(text.line(), written))
        std::abort();
    DownItem again;
    again.fromJson(written);
    if (again.lenLoc != item.lenLoc || again.lenSvr != item.lenSvr || again.pathLoc != item.pathLoc ||
        again.fileUrl != item.fileUrl)
        std::abort();
    return 0;
}
