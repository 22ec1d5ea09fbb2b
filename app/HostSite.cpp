#include "HostSite.h"

ComPtr<HostSite> HostSite::create(std::string pageOrigin)
{
    return ComPtr<HostSite>(new HostSite(std::move(pageOrigin)));
}
