// The task object of a folder as a page sends it with "add_folder": a new folder is laid out
// under the download folder, and no listing places the folder outside it, or a file outside the folder.
// Laying out makes the folder's root, so the download folder is a temporary one of this run.
#include "Inside.h"

#include "component/Config.h"
#include "component/FdDownItem.h"
#include "component/TaskMgr.h"
#include "support/JsonText.h"
#include "support/Path.h"
#include "support/Text.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <json/value.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

std::string downloads;  // made by the initialiser, then read-only

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    TaskMgr::instance().setSender([](std::string&&) {});  // "init_end" goes nowhere
    char folder[] = "/tmp/zv-fuzz-folder-XXXXXX";
    if (!::mkdtemp(folder))
        std::abort();
    downloads = folder;
    std::atexit([] { ::rmdir(downloads.c_str()); });  // empty by then: each root goes with its record
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // The download folder as a page may spell it: with slashes, or backslashes and a trailing one.
    const bool backslashes = input.ConsumeBool();
    std::wstring given = fromUtf8(downloads);
    if (backslashes) {
        for (wchar_t& c : given)
            c = c == L'/' ? L'\\' : c;
        given += L'\\';
    }
    const FuzzRoot root{given.c_str(), downloads.c_str()};
    Json::Value task;
    if (!parseJson(input.ConsumeRemainingBytesAsString(), task))
        return 0;
    Config::instance().setFolder(root.given);
    FdDownItem folder;
    try {
        folder.fromJson(task);
        folder.layOutIfNew();
    } catch (const Json::LogicError&) {
        return 0;  // a member of a type the task format does not allow: the command is dropped
    }
    if (folder.lenLoc > 0)
        return 0;  // a resumed folder keeps the paths the page saved for it
    const std::string folderRoot = fileSystemPath(folder.pathLoc);
    if (!insideRoot(folderRoot, root.native, true))
        std::abort();
    for (const auto& file : folder.files)
        if (!insideRoot(fileSystemPath(file->pathLoc), folderRoot, true))
            std::abort();
    return 0;
}
