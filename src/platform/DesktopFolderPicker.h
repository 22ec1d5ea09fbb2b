// DesktopFolderPicker: the desktop's folder dialog, zenity or else kdialog, run as a child
// process. Without a display, or with neither program installed, no dialog can be shown; the
// user closing the dialog, or a program that fails, counts as a cancel.
#pragma once

#include "platform/FolderPicker.h"

class DesktopFolderPicker : public FolderPicker {
public:
    Choice pick(const std::wstring& title) override;
};
