#include "HostSite.h"

ComPtr<HostSite> HostSite::create(std::string pageOrigin)
{
    return ComPtr<HostSite>(new HostSite(std::move(pageOrigin)));
}

HRESULT HostSite::QueryInterface(const GUID& iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown) {
        AddRef();
        *out = static_cast<IUnknown*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

uint32_t HostSite::Release()
{
    uint32_t remaining;
    if (refs.releaseLast(remaining))
        delete this;
    return remaining;
}
