#include "platform/FolderPicker.h"

#include "platform/DesktopFolderPicker.h"

#include <mutex>

namespace {

std::mutex pickerLock;
std::shared_ptr<FolderPicker> installed;  // guarded by pickerLock

}  // namespace

std::shared_ptr<FolderPicker> FolderPicker::current()
{
    std::lock_guard<std::mutex> lock(pickerLock);
    if (installed)
        return installed;
    return std::make_shared<DesktopFolderPicker>();
}

void FolderPicker::install(std::shared_ptr<FolderPicker> picker)
{
    std::lock_guard<std::mutex> lock(pickerLock);
    installed = std::move(picker);
}
