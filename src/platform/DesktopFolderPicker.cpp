#include "platform/DesktopFolderPicker.h"

#include "platform/DesktopDialog.h"
#include "support/Text.h"

#include <vector>

FolderPicker::Choice DesktopFolderPicker::pick(const std::wstring& title)
{
    Choice choice;
    choice.reason = DesktopDialog::whyNoDesktop();
    if (!choice.reason.empty()) {
        choice.outcome = Choice::Outcome::unavailable;
        return choice;
    }
    const std::string caption = toUtf8(title);
    const std::vector<std::vector<std::string>> dialogs = {
        {"zenity", "--file-selection", "--directory", "--title=" + caption},
        {"kdialog", "--getexistingdirectory", ".", "--title", caption},
    };
    for (const auto& dialog : dialogs) {
        const DesktopDialog::Result result = DesktopDialog::run(dialog);
        if (result.outcome == DesktopDialog::Result::Outcome::missing)
            continue;
        // The user closing the dialog, or a program that fails, counts as a cancel.
        if (result.status == 0 && !result.output.empty()) {
            choice.outcome = Choice::Outcome::chosen;
            choice.path = fromUtf8(result.output);
        }
        return choice;
    }
    choice.outcome = Choice::Outcome::unavailable;
    choice.reason = "no folder dialog: neither zenity nor kdialog is installed";
    return choice;
}
