#include "ModuleHarness.h"

#include "platform/Apartment.h"
#include "platform/CreateByProgId.h"
#include "platform/ObjectSafety.h"
#include "platform/ScriptFunction.h"
#include "support/Text.h"

#include <gtest/gtest.h>

namespace {

// The fixed identifiers, in registry form: they must not change between builds.
const std::wstring kClsid = L"{A826A674-B4E5-4462-A6F7-DEF66969C130}";
const std::wstring kLibid = L"{D89C0537-297D-46CE-A213-F90CBE1FD859}";
const std::wstring kAppid = L"{AAE8F427-DA1F-4CB8-8CE3-6CC50CCACB6F}";
const std::wstring kClassKey = L"CLSID\\" + kClsid;

std::wstring valueOf(const Registry& hive, const std::wstring& key, const std::wstring& name = L"")
{
    std::wstring data;
    return SUCCEEDED(hive.queryValue(key, name, &data)) ? data : L"<missing>";
}

void expectRegistered(const Registry& hive, const std::string& modulePath)
{
    EXPECT_EQ(valueOf(hive, L"AppID\\" + kAppid), L"Zelvorn");
    EXPECT_EQ(valueOf(hive, L"AppID\\Zelvorn.DLL", L"AppID"), kAppid);
    EXPECT_EQ(valueOf(hive, L"Dravik.DownloaderPartition.1"), L"DownloaderPartition Class");
    EXPECT_EQ(valueOf(hive, L"Dravik.DownloaderPartition.1\\CLSID"), kClsid);
    EXPECT_EQ(valueOf(hive, L"Dravik.DownloaderPartition"), L"DownloaderPartition Class");
    EXPECT_EQ(valueOf(hive, L"Dravik.DownloaderPartition\\CurVer"), L"Dravik.DownloaderPartition.1");
    EXPECT_EQ(valueOf(hive, kClassKey), L"DownloaderPartition Class");
    EXPECT_EQ(valueOf(hive, kClassKey + L"\\ProgID"), L"Dravik.DownloaderPartition.1");
    EXPECT_EQ(valueOf(hive, kClassKey + L"\\VersionIndependentProgID"), L"Dravik.DownloaderPartition");
    EXPECT_TRUE(hive.hasKey(kClassKey + L"\\Programmable"));
    EXPECT_EQ(valueOf(hive, kClassKey + L"\\InprocServer32"), std::wstring(modulePath.begin(), modulePath.end()));
    EXPECT_EQ(valueOf(hive, kClassKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(valueOf(hive, kClassKey + L"\\TypeLib"), kLibid);
    EXPECT_EQ(valueOf(hive, kClassKey + L"\\Version"), L"1.0");
    EXPECT_EQ(hive.subkeys(kClassKey).size(), 6u);

    const std::wstring library = L"TypeLib\\" + kLibid + L"\\1.0";
    EXPECT_EQ(valueOf(hive, library), L"ZelvornApp 1.0 类型库");
    EXPECT_EQ(valueOf(hive, library + L"\\0\\linux"), std::wstring(modulePath.begin(), modulePath.end()));
    EXPECT_EQ(valueOf(hive, library + L"\\IDownloaderPartition\\Version", L"DispID"), L"1");
    EXPECT_EQ(valueOf(hive, library + L"\\IDownloaderPartition\\Version", L"HelpString"), L"属性 Version");
    EXPECT_EQ(valueOf(hive, library + L"\\IDownloaderPartition\\recvMessage", L"Kind"), L"propput");
    EXPECT_EQ(hive.subkeys(library + L"\\IDownloaderPartition").size(), 4u);
}

void expectUnregistered(const Registry& hive)
{
    for (const std::wstring& key : {L"AppID\\" + kAppid, std::wstring(L"AppID\\Zelvorn.DLL"), kClassKey,
                                    std::wstring(L"Dravik.DownloaderPartition.1"),
                                    std::wstring(L"Dravik.DownloaderPartition"), L"TypeLib\\" + kLibid})
        EXPECT_FALSE(hive.hasKey(key)) << toUtf8(key);
    EXPECT_TRUE(hive.hasKey(L"AppID"));
    EXPECT_TRUE(hive.hasKey(L"CLSID"));
}

// Creates the control by ProgID in a new apartment, checks that it was made as a browser makes
// it (safe for untrusted callers, given the host's site) and reads its Version by name.
HRESULT createAndReadVersion(std::wstring* version, std::string* detail = nullptr)
{
    auto page = Apartment::create();
    HRESULT hr = E_FAIL;
    page->invoke([&] {
        auto site = ScriptFunction::create([](const std::wstring&) {});
        IDispatch* created = nullptr;
        hr = createByProgId(L"Dravik.DownloaderPartition", site.get(), &created, detail);
        if (FAILED(hr))
            return;
        auto control = ComPtr<IDispatch>::adopt(created);
        void* raw = nullptr;
        uint32_t supported = 0, enabled = 0;
        EXPECT_EQ(control->QueryInterface(IID_IObjectSafety, &raw), S_OK);
        ComPtr<IObjectSafety>::adopt(static_cast<IObjectSafety*>(raw))
            ->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
        EXPECT_EQ(enabled, INTERFACESAFE_FOR_UNTRUSTED_CALLER);
        EXPECT_EQ(countOf(*site.get()), 2u);  // ours and the control's

        DISPID id = 0;
        std::vector<Variant> none;
        Variant result;
        hr = control->GetIDsOfNames(L"Version", &id);
        if (SUCCEEDED(hr))
            hr = control->Invoke(id, DispatchKind::PropertyGet, none, &result);
        *version = result.text;
    });
    return hr;
}

}  // namespace

TEST(Registration, RegisterCreateScriptAndUnregisterForTheUser)
{
    TestHives hives;
    LoadedModule module(hives.folder.path() / "lib" / "libzelvorn2.so");
    std::wstring version;
    EXPECT_EQ(createAndReadVersion(&version), CO_E_CLASSSTRING);

    ASSERT_EQ(module.install(true, L"user"), S_OK);
    expectRegistered(hives.read(hives.user()), module.path);
    EXPECT_FALSE(std::filesystem::exists(hives.machine()));

    ASSERT_EQ(createAndReadVersion(&version), S_OK);
    EXPECT_EQ(version, L"1,2,56,31650");
    ASSERT_EQ(module.install(false, L"user"), S_OK);
    expectUnregistered(hives.read(hives.user()));
    EXPECT_EQ(createAndReadVersion(&version), CO_E_CLASSSTRING);
}

TEST(Registration, RegisteringTwiceLeavesOneClassTree)
{
    TestHives hives;
    LoadedModule module(hives.folder.path() / "libzelvorn2.so");
    ASSERT_EQ(module.registerServer(), S_OK);
    ASSERT_EQ(Registry::edit(hives.machine(),
                             [](Registry& hive) {
                                 hive.setValue(kClassKey + L"\\Stale", L"", L"from an older version");
                                 hive.setValue(kClassKey + L"\\InprocServer32", L"Extra", L"old");
                                 return S_OK;
                             }),
              S_OK);
    ASSERT_EQ(module.registerServer(), S_OK);
    Registry hive = hives.read(hives.machine());
    expectRegistered(hive, module.path);
    EXPECT_FALSE(hive.hasKey(kClassKey + L"\\Stale"));
    EXPECT_EQ(valueOf(hive, kClassKey + L"\\InprocServer32", L"Extra"), L"<missing>");

    ASSERT_EQ(module.unregisterServer(), S_OK);
    expectUnregistered(hives.read(hives.machine()));
    // Unregistering what is not there succeeds too.
    EXPECT_EQ(module.unregisterServer(), S_OK);
}

// "user" in any case selects the user's hive for the rest of the module's life; anything
// else, "users" too, registers for the machine.
TEST(Registration, CommandLineSelectsTheHive)
{
    TestHives hives;
    LoadedModule users(hives.folder.path() / "users" / "libzelvorn2.so");
    ASSERT_EQ(users.install(true, L"users"), S_OK);
    expectRegistered(hives.read(hives.machine()), users.path);
    EXPECT_FALSE(std::filesystem::exists(hives.user()));

    LoadedModule upper(hives.folder.path() / "upper" / "libzelvorn2.so");
    ASSERT_EQ(upper.install(true, L"USER"), S_OK);
    expectRegistered(hives.read(hives.user()), upper.path);
    // The switch lasts: the plain entry points of that module now use the user's hive.
    ASSERT_EQ(upper.unregisterServer(), S_OK);
    expectUnregistered(hives.read(hives.user()));
    expectRegistered(hives.read(hives.machine()), users.path);

    LoadedModule plain(hives.folder.path() / "plain" / "libzelvorn2.so");
    ASSERT_EQ(plain.install(false, L" user"), S_OK);
    expectUnregistered(hives.read(hives.machine()));
}

// The user's registration overrides the machine's while it exists.
TEST(Registration, UserClassesOverrideTheMachine)
{
    TestHives hives;
    LoadedModule machine(hives.folder.path() / "m" / "libzelvorn2.so");
    ASSERT_EQ(machine.registerServer(), S_OK);
    ASSERT_EQ(Registry::edit(hives.machine(),
                             [](Registry& hive) {
                                 hive.setValue(kClassKey + L"\\InprocServer32", L"", L"/nonexistent/libzelvorn2.so");
                                 return S_OK;
                             }),
              S_OK);
    std::wstring version;
    std::string detail;
    EXPECT_EQ(createAndReadVersion(&version, &detail), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_NE(detail.find("/nonexistent/libzelvorn2.so"), std::string::npos) << detail;

    LoadedModule user(hives.folder.path() / "u" / "libzelvorn2.so");
    ASSERT_EQ(user.install(true, L"user"), S_OK);
    EXPECT_EQ(createAndReadVersion(&version), S_OK);
    ASSERT_EQ(user.install(false, L"user"), S_OK);
    EXPECT_EQ(createAndReadVersion(&version), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
}

// A module path of 260 characters or more cannot be registered; DllInstall then removes what
// an earlier registration left. 259 characters still fit.
TEST(Registration, ModulePathMustFitTheBuffer)
{
    TestHives hives;
    auto pathOfLength = [&](const std::string& top, size_t length) {
        std::filesystem::path path = std::filesystem::canonical(hives.folder.path()) / top;
        const std::string name = "libzelvorn2.so";
        while (path.string().size() + 1 + name.size() < length) {
            const size_t room = length - path.string().size() - 1 - name.size() - 1;
            path /= std::string(std::min<size_t>(room == 0 ? 1 : room, 100), 'd');
        }
        path /= name;
        EXPECT_EQ(path.string().size(), length);
        return path;
    };
    LoadedModule fits(pathOfLength("a", 259));
    ASSERT_EQ(fits.install(true, L"user"), S_OK);
    expectRegistered(hives.read(hives.user()), fits.path);

    LoadedModule tooLong(pathOfLength("b", 260));
    const std::string before = TempFolder::readFile(hives.user());
    EXPECT_EQ(tooLong.registerServer(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(TempFolder::readFile(hives.user()), before);
    EXPECT_EQ(tooLong.install(true, L"user"), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    expectUnregistered(hives.read(hives.user()));
}

// A corrupt hive stops registration and creation with an error and stays as it was.
TEST(Registration, CorruptHiveIsAnError)
{
    TestHives hives;
    LoadedModule module(hives.folder.path() / "libzelvorn2.so");
    std::filesystem::create_directories(std::filesystem::path(hives.user()).parent_path());
    const std::string garbage = "{\"keys\": {\"CLSID\": ";
    hives.folder.writeFile("user/registry.json", garbage);

    EXPECT_EQ(module.install(true, L"user"), HRESULT_FROM_WIN32(ERROR_BADDB));
    EXPECT_EQ(TempFolder::readFile(hives.user()), garbage);
    std::wstring version;
    EXPECT_EQ(createAndReadVersion(&version), HRESULT_FROM_WIN32(ERROR_BADDB));
}
