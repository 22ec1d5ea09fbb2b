#include "module/CZelvornAppModule.h"

#include "module/ServerRegistration.h"
#include "platform/Registry.h"
#include "support/Text.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

namespace {
// The module file name buffer of the original registration, in characters with its NUL.
constexpr size_t kPathBuffer = 260;
}  // namespace

CZelvornAppModule& CZelvornAppModule::instance()
{
    static CZelvornAppModule* const module = new CZelvornAppModule();
    return *module;
}

HRESULT CZelvornAppModule::modulePath(std::wstring* path)
{
    Dl_info info{};
    // Any function of this module names the file it was loaded from.
    if (!dladdr(reinterpret_cast<void*>(&CZelvornAppModule::modulePath), &info) || !info.dli_fname)
        return E_FAIL;
    char* resolved = realpath(info.dli_fname, nullptr);
    if (!resolved)
        return E_FAIL;
    *path = fromUtf8(resolved);
    std::free(resolved);
    if (path->size() >= kPathBuffer)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    return S_OK;
}

std::string CZelvornAppModule::hiveFile() const
{
    return Registry::hiveFile(m_perUser ? Registry::Hive::User : Registry::Hive::Machine);
}

HRESULT CZelvornAppModule::registerServer()
{
    std::wstring path;
    HRESULT hr = modulePath(&path);
    if (FAILED(hr))
        return hr;
    return Registry::edit(hiveFile(), [&](Registry& hive) {
        ServerRegistration::registerAppId(hive);
        ServerRegistration::registerClass(hive, path);
        ServerRegistration::registerTypeLibrary(hive, path);
        return S_OK;
    });
}

HRESULT CZelvornAppModule::unregisterServer()
{
    return Registry::edit(hiveFile(), [](Registry& hive) {
        ServerRegistration::unregisterClass(hive);
        ServerRegistration::unregisterTypeLibrary(hive);
        ServerRegistration::unregisterAppId(hive);
        return S_OK;
    });
}
