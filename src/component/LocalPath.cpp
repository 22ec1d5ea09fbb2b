#include "component/LocalPath.h"

#include "support/Path.h"

std::wstring localNameFor(const std::wstring& custom, const std::wstring& serverName)
{
    if (!custom.empty()) {
        const std::wstring path = pathJoinConfined(L"", custom);
        if (!path.empty())
            return path;
    }
    const std::wstring name = plainFileName(serverName);
    return name.empty() ? L"download" : name;
}
