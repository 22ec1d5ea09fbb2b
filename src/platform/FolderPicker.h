// FolderPicker: asks the user to choose a folder ("open_folder"). By default the desktop's own
// dialog (DesktopFolderPicker); hosts and tests may install another.
//
// pick() runs on the page's thread and blocks it while the dialog is open, as a modal dialog
// does. install() and current() may be called from any thread.
#pragma once

#include <memory>
#include <string>

class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    // True with the chosen file-system path in `path`; false when the user cancelled or no
    // dialog could be shown.
    virtual bool pick(const std::wstring& title, std::wstring& path) = 0;

    // The picker "open_folder" uses: the installed one, else the desktop's.
    static std::shared_ptr<FolderPicker> current();
    // Replaces the picker for the whole process; null restores the desktop's.
    static void install(std::shared_ptr<FolderPicker> picker);
};
