#include "platform/CreateByProgId.h"

#include "platform/ClassFactory.h"
#include "platform/InprocServer.h"
#include "platform/ObjectSafety.h"
#include "platform/ObjectWithSite.h"
#include "platform/Registry.h"
#include "support/Text.h"

#include <dlfcn.h>

namespace {

// The two hives seen as one: a key the user's hive has hides the machine's key of that name.
class ClassesView {
public:
    HRESULT open()
    {
        HRESULT hr = Registry::open(Registry::hiveFile(Registry::Hive::User), user);
        if (SUCCEEDED(hr))
            hr = Registry::open(Registry::hiveFile(Registry::Hive::Machine), machine);
        return hr;
    }
    // `fromUser` (optional) tells whether the user's hive held the key.
    HRESULT defaultValue(const std::wstring& key, std::wstring* data, bool* fromUser = nullptr) const
    {
        const bool userKey = user.hasKey(key);
        if (fromUser)
            *fromUser = userKey;
        return (userKey ? user : machine).queryValue(key, L"", data);
    }

private:
    Registry user;
    Registry machine;
};

// The class registered for `progId` (following CurVer to the current version) and the module
// that serves it, with the hive that named the module.
HRESULT findClass(const std::wstring& progId, GUID& clsid, std::wstring& modulePath, bool* moduleFromUser = nullptr)
{
    ClassesView classes;
    HRESULT hr = classes.open();
    if (FAILED(hr))
        return hr;
    std::wstring current = progId;
    std::wstring versioned;
    if (SUCCEEDED(classes.defaultValue(progId + L"\\CurVer", &versioned)))
        current = versioned;
    std::wstring clsidText;
    if (FAILED(classes.defaultValue(current + L"\\CLSID", &clsidText)) || !guidFromString(clsidText, clsid))
        return CO_E_CLASSSTRING;
    if (FAILED(classes.defaultValue(L"CLSID\\" + clsidText + L"\\InprocServer32", &modulePath, moduleFromUser)) ||
        modulePath.empty())
        return REGDB_E_CLASSNOTREG;
    return S_OK;
}

// Loads the module (it stays loaded) and asks it for the class factory of `clsid`. Functions
// bind when first called: binding every function of libcurl's dependency tree up front took a
// quarter of a host's start-up. Registration loads the module with RTLD_NOW, so a module whose
// functions cannot all be found is refused there; symbol versions are checked here at load.
HRESULT classFactoryOf(const std::wstring& modulePath, const GUID& clsid, ComPtr<IClassFactory>& factory,
                       std::string* detail)
{
    void* module = dlopen(toUtf8(modulePath).c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!module) {
        if (detail)
            *detail = dlerror();
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    }
    auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(dlsym(module, "DllGetClassObject"));
    if (!getClassObject)
        return CO_E_ERRORINDLL;
    void* raw = nullptr;
    const HRESULT hr = getClassObject(clsid, IID_IClassFactory, &raw);
    if (SUCCEEDED(hr))
        factory = ComPtr<IClassFactory>::adopt(static_cast<IClassFactory*>(raw));
    return hr;
}

// A browser scripts only a control that declares itself safe for untrusted callers; then it
// hands the control its site.
HRESULT prepareForPage(const ComPtr<IDispatch>& control, IUnknown* site)
{
    const auto safety = control.as<IObjectSafety>();
    if (!safety)
        return E_NOINTERFACE;
    const HRESULT hr = safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                                         INTERFACESAFE_FOR_UNTRUSTED_CALLER);
    if (FAILED(hr))
        return hr;
    if (const auto withSite = control.as<IObjectWithSite>())
        withSite->SetSite(site);
    return S_OK;
}

}  // namespace

HRESULT findRegisteredModule(const std::wstring& progId, std::wstring& modulePath, bool& inUserHive)
{
    GUID clsid;
    return findClass(progId, clsid, modulePath, &inUserHive);
}

HRESULT createByProgId(const std::wstring& progId, IUnknown* site, IDispatch** out, std::string* detail)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    GUID clsid;
    std::wstring modulePath;
    HRESULT hr = findClass(progId, clsid, modulePath);
    if (FAILED(hr))
        return hr;
    if (detail)
        *detail = toUtf8(modulePath);
    ComPtr<IClassFactory> factory;
    hr = classFactoryOf(modulePath, clsid, factory, detail);
    if (FAILED(hr))
        return hr;
    void* raw = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IDispatch, &raw);
    if (FAILED(hr))
        return hr;
    auto control = ComPtr<IDispatch>::adopt(static_cast<IDispatch*>(raw));
    hr = prepareForPage(control, site);
    if (FAILED(hr))
        return hr;
    *out = control.detach();
    return S_OK;
}
