#include "common/TempFolder.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <thread>

namespace {

std::wstring valueOf(const Registry& hive, const std::wstring& key, const std::wstring& name)
{
    std::wstring data;
    return SUCCEEDED(hive.queryValue(key, name, &data)) ? data : L"<missing>";
}

// Sets an environment variable for the life of the object, then puts back what was there.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : variable(name)
    {
        if (const char* was = std::getenv(name))
            saved = was;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnvironment() { saved ? setenv(variable, saved->c_str(), 1) : unsetenv(variable); }

private:
    const char* variable;
    std::optional<std::string> saved;
};

}  // namespace

// The user's hive lies where the XDG rules put configuration: a relative XDG_CONFIG_HOME is
// ignored, and without HOME the home folder comes from the password database, never "/".
TEST(Registry, TheUsersHiveFollowsTheConfigurationFolderRules)
{
    const ScopedEnvironment named("ZELVORN_REGISTRY_USER", nullptr);
    {
        const ScopedEnvironment config("XDG_CONFIG_HOME", "/srv/config");
        EXPECT_EQ(Registry::hiveFile(Registry::Hive::User), "/srv/config/zelvorn/registry.json");
    }
    const ScopedEnvironment relative("XDG_CONFIG_HOME", "relative/config");
    {
        const ScopedEnvironment home("HOME", "/home/someone");
        EXPECT_EQ(Registry::hiveFile(Registry::Hive::User), "/home/someone/.config/zelvorn/registry.json");
    }
    const ScopedEnvironment noHome("HOME", nullptr);
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(Registry::hiveFile(Registry::Hive::User), std::string(user->pw_dir) + "/.config/zelvorn/registry.json");
}

// Keys, values and removal survive the trip through the file; names match in any ASCII case
// and keep the spelling they were made with.
TEST(Registry, EditedKeysReadBackFromTheFile)
{
    TempFolder folder;
    const std::string file = (folder.path() / "hives" / "registry.json").string();
    ASSERT_EQ(Registry::edit(file,
                             [](Registry& hive) {
                                 hive.setValue(L"CLSID\\{ABC}\\InprocServer32", L"ThreadingModel", L"/opt/下载");
                                 hive.createKey(L"CLSID\\{ABC}\\Programmable");
                                 hive.setValue(L"Other", L"", L"gone soon");
                                 return S_OK;
                             }),
              S_OK);
    ASSERT_EQ(Registry::edit(file,
                             [](Registry& hive) {
                                 hive.setValue(L"clsid\\{abc}", L"", L"same key, other case");
                                 EXPECT_TRUE(hive.deleteTree(L"OTHER"));
                                 EXPECT_FALSE(hive.deleteTree(L"Other"));
                                 return S_OK;
                             }),
              S_OK);

    Registry hive;
    ASSERT_EQ(Registry::open(file, hive), S_OK);
    EXPECT_EQ(valueOf(hive, L"\\clsid\\{abc}\\INPROCSERVER32\\", L"threadingmodel"), L"/opt/下载");
    EXPECT_EQ(valueOf(hive, L"CLSID\\{ABC}", L""), L"same key, other case");
    EXPECT_EQ(valueOf(hive, L"CLSID\\{ABC}\\Programmable", L""), L"<missing>");
    EXPECT_EQ(hive.subkeys(L""), std::vector<std::wstring>{L"CLSID"});
    EXPECT_EQ(hive.subkeys(L"CLSID\\{ABC}"), (std::vector<std::wstring>{L"InprocServer32", L"Programmable"}));
    std::wstring data;
    EXPECT_EQ(hive.queryValue(L"CLSID\\{XYZ}", L"", &data), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

// A hive file that is not a hive is reported and kept byte for byte, also when an edit fails
// on it; a change that fails writes nothing.
TEST(Registry, CorruptHiveIsAnErrorAndIsNeverReplaced)
{
    TempFolder folder;
    auto changeRuns = [](Registry& hive) {
        hive.setValue(L"A", L"", L"x");
        return S_OK;
    };
    for (const std::string& bytes :
         {std::string("{\"keys\": {\"A\": "), std::string("not json"), std::string("{\"values\": {\"\": 5}}"),
          std::string("{\"keys\": {\"A\": []}}"), std::string("{\"extra\": {}}"), std::string("[]")}) {
        const auto file = folder.writeFile("registry.json", bytes);
        Registry hive;
        EXPECT_EQ(Registry::open(file.string(), hive), HRESULT_FROM_WIN32(ERROR_BADDB)) << bytes;
        EXPECT_EQ(Registry::edit(file.string(), changeRuns), HRESULT_FROM_WIN32(ERROR_BADDB)) << bytes;
        EXPECT_EQ(TempFolder::readFile(file), bytes);
    }

    const auto file = folder.path() / "good.json";
    ASSERT_EQ(Registry::edit(file.string(), changeRuns), S_OK);
    const std::string before = TempFolder::readFile(file);
    EXPECT_EQ(Registry::edit(file.string(),
                             [](Registry& hive) {
                                 hive.deleteTree(L"A");
                                 return E_FAIL;
                             }),
              E_FAIL);
    EXPECT_EQ(TempFolder::readFile(file), before);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2);
}

// A hive that cannot be read or written gives an error result, also for root; a missing file
// is an empty hive.
TEST(Registry, UnreadableAndUnwritableHivesAreErrors)
{
    TempFolder folder;
    folder.writeFile("plain-file", "x");
    auto nothing = [](Registry&) { return S_OK; };
    Registry hive;
    for (const auto& file : {folder.path() / "plain-file" / "registry.json", folder.path()}) {
        EXPECT_TRUE(FAILED(Registry::open(file.string(), hive))) << file;
        EXPECT_TRUE(FAILED(Registry::edit(file.string(), nothing))) << file;
    }
    EXPECT_EQ(Registry::open((folder.path() / "none.json").string(), hive), S_OK);
    EXPECT_TRUE(hive.subkeys(L"").empty());
}

// Edits that overlap (here from threads, each with its own lock) all land: none is lost.
TEST(RegistryConcurrency, OverlappingEditsKeepEveryKey)
{
    TempFolder folder;
    const std::string file = (folder.path() / "registry.json").string();
    std::vector<std::thread> editors;
    for (int t = 0; t < 4; ++t)
        editors.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i)
                EXPECT_EQ(Registry::edit(file,
                                         [&](Registry& hive) {
                                             hive.createKey(L"K\\" + std::to_wstring(t * 100 + i));
                                             return S_OK;
                                         }),
                          S_OK);
        });
    for (auto& editor : editors)
        editor.join();
    Registry hive;
    ASSERT_EQ(Registry::open(file, hive), S_OK);
    EXPECT_EQ(hive.subkeys(L"K").size(), 100u);
}
