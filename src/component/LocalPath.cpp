#include "component/LocalPath.h"

#include "support/Path.h"

std::wstring localPathFor(const std::wstring& folder, const std::wstring& custom, const std::wstring& serverName)
{
    const std::wstring inside = pathJoin(folder, L"");
    if (!custom.empty()) {
        const std::wstring path = pathJoinConfined(folder, custom);
        if (path != inside)
            return path;
    }
    const std::wstring name = plainFileName(serverName);
    return pathJoin(inside, name.empty() ? L"download" : name);
}
