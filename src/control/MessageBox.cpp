#include "control/MessageBox.h"

#include "log/Log.h"
#include "support/Text.h"

#include <cstdio>

void messageBox(const std::wstring& text, const std::wstring& caption)
{
    const std::string line = toUtf8(caption) + ": " + toUtf8(text) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    ZLOG(toAnsi(caption) << ": " << toAnsi(text));
}
