#include "component/HostNotice.h"

#include "log/Log.h"

#include <cstdio>

void hostNotice(const std::string& text)
{
    ZLOG(text);
    const std::string line = "zelvorn: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}
