// FolderPicker: asks the user to choose a folder ("open_folder"). By default the desktop's own
// dialog (DesktopFolderPicker); hosts and tests may install another.
//
// pick() runs on a thread of its own and blocks it while the dialog is open, while the page's
// thread keeps pumping, as a modal dialog's loop does. install() and current() may be called
// from any thread; a picker is shared by whoever holds it.
#pragma once

#include <memory>
#include <string>

class FolderPicker {
public:
    struct Choice {
        enum class Outcome { chosen, cancelled, unavailable };
        Outcome outcome = Outcome::cancelled;
        std::wstring path;   // chosen: the file-system path
        std::string reason;  // unavailable: why no dialog could be shown
    };

    virtual ~FolderPicker() = default;
    virtual Choice pick(const std::wstring& title) = 0;

    // The picker "open_folder" uses: the installed one, else the desktop's.
    static std::shared_ptr<FolderPicker> current();
    // Replaces the picker for the whole process; null restores the desktop's.
    static void install(std::shared_ptr<FolderPicker> picker);
};
