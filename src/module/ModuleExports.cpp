// The module's exported entry points, the only symbols libzelvorn2.so makes visible.
#include "control/Guids.h"
#include "module/CDownloaderPartitionFactory.h"
#include "module/CZelvornAppModule.h"
#include "platform/InprocServer.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <type_traits>

#define ZV_EXPORT extern "C" __attribute__((visibility("default")))

ZV_EXPORT HRESULT DllGetClassObject(const GUID& clsid, const GUID& iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    // The proxy of IDownloaderPartition is no class of its own here: the control's construction
    // hands it to the process's interface table, so the control is the one class served.
    if (clsid != CLSID_DownloaderPartition)
        return CLASS_E_CLASSNOTAVAILABLE;
    ComPtr<CDownloaderPartitionFactory> factory(new CDownloaderPartitionFactory());
    return factory->QueryInterface(iid, out);
}

ZV_EXPORT HRESULT DllCanUnloadNow()
{
    return CZelvornAppModule::instance().lockCount() > 0 ? S_FALSE : S_OK;
}

ZV_EXPORT HRESULT DllRegisterServer()
{
    return CZelvornAppModule::instance().registerServer();
}

ZV_EXPORT HRESULT DllUnregisterServer()
{
    return CZelvornAppModule::instance().unregisterServer();
}

ZV_EXPORT HRESULT DllInstall(bool install, const wchar_t* commandLine)
{
    auto& module = CZelvornAppModule::instance();
    if (commandLine && std::wcslen(commandLine) == 4 &&
        std::equal(commandLine, commandLine + 4, L"user",
                   [](wchar_t a, wchar_t b) { return std::towlower(a) == static_cast<wint_t>(b); }))
        module.setPerUser();
    if (!install)
        return module.unregisterServer();
    HRESULT hr = module.registerServer();
    if (FAILED(hr))
        module.unregisterServer();
    return hr;
}

static_assert(std::is_same_v<decltype(&DllGetClassObject), DllGetClassObjectFunction>);
static_assert(std::is_same_v<decltype(&DllCanUnloadNow), DllCanUnloadNowFunction>);
static_assert(std::is_same_v<decltype(&DllRegisterServer), DllRegisterServerFunction>);
static_assert(std::is_same_v<decltype(&DllUnregisterServer), DllUnregisterServerFunction>);
static_assert(std::is_same_v<decltype(&DllInstall), DllInstallFunction>);
