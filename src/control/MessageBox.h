// The modal message box of a desktop host, for a control that has no screen: the text and the
// caption go to standard error and to the log. Any thread.
#pragma once

#include <string>

void messageBox(const std::wstring& text, const std::wstring& caption);
