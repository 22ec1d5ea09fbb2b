// DesktopFolderPicker: the desktop's folder dialog, zenity or else kdialog, run as a child
// process. Neither installed, no display, or the user cancelling all count as a cancel.
#pragma once

#include "platform/FolderPicker.h"

class DesktopFolderPicker : public FolderPicker {
public:
    bool pick(const std::wstring& title, std::wstring& path) override;
};
