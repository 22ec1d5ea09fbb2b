#include "HostSite.h"

#include "Settings.h"
#include "support/UserFolders.h"
#include "support/Text.h"

ComPtr<HostSite> HostSite::create(std::string pageOrigin)
{
    return ComPtr<HostSite>(new HostSite(std::move(pageOrigin)));
}

HRESULT HostSite::QueryInterface(const GUID& iid, void** out)
{
    if (iid == IID_IPageRules && origin.empty()) {
        if (out)
            *out = nullptr;
        return E_NOINTERFACE;
    }
    return ComObject::QueryInterface(iid, out);
}

HRESULT HostSite::GetDownloadRoots(std::vector<std::wstring>* roots)
{
    if (!roots)
        return E_POINTER;
    *roots = Settings::downloadRoots(origin);
    return S_OK;
}

HRESULT HostSite::GetLogFolder(std::wstring* folder)
{
    if (!folder)
        return E_POINTER;
    *folder = fromUtf8((UserFolders::xdg("XDG_STATE_HOME", ".local/state") / "zelvorn").string());
    return S_OK;
}

HRESULT HostSite::RememberFolder(const std::wstring& folder)
{
    return Settings::rememberFolder(origin, folder) ? S_OK : E_FAIL;
}
