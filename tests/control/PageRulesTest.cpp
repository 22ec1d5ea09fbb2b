// A control whose host serves pages (its site has rules): the pages' downloads, paths and log
// stay where the user agreed, whatever the page asks for.
#include "DownloadPageTest.h"

#include "platform/ComObject.h"
#include "platform/FolderPicker.h"
#include "hosting/PageRules.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The host's site for a page: the user's download folder and the folders picked for the page.
class RulesSite : public ComObject<IPageRules> {
public:
    RulesSite(std::wstring downloads, std::wstring logs) : roots{std::move(downloads)}, logFolder(std::move(logs)) {}
    HRESULT GetDownloadRoots(std::vector<std::wstring>* out) override
    {
        *out = roots;
        return S_OK;
    }
    HRESULT GetLogFolder(std::wstring* out) override
    {
        *out = logFolder;
        return S_OK;
    }
    HRESULT RememberFolder(const std::wstring& folder) override
    {
        remembered.push_back(folder);
        return S_OK;
    }
    std::vector<std::wstring> roots;
    std::wstring logFolder;
    std::vector<std::wstring> remembered;  // page's thread only
};

// A site for a host whose commands come from the user: no rules.
class PlainSite : public ComObject<IUnknown> {};

class PickedFolder : public FolderPicker {
public:
    explicit PickedFolder(std::wstring path) : folder(std::move(path)) {}
    Choice pick(const std::wstring&) override
    {
        Choice choice;
        choice.outcome = Choice::Outcome::chosen;
        choice.path = folder;
        return choice;
    }
    const std::wstring folder;
};

class PageRulesTest : public DownloadPageTest {
protected:
    void setSite(IUnknown* site)
    {
        page.apartment->invoke([&] { page.control->SetSite(site); });
    }
    void TearDown() override
    {
        ComPtr<PlainSite> plain(new PlainSite());
        setSite(plain.get());
        FolderPicker::install(nullptr);
        DownloadPageTest::TearDown();
    }
};

}  // namespace

TEST_F(PageRulesTest, PagesWriteOnlyBelowTheFoldersTheUserAllowed)
{
    const fs::path downloads = dir.path() / "Downloads", other = dir.path() / "other", logs = dir.path() / "state";
    fs::create_directories(downloads);
    fs::create_directories(other);
    fs::create_symlink(other, downloads / "link");
    const auto profile = dir.writeFile(".bashrc", "the user's");
    ComPtr<RulesSite> site(new RulesSite(downloads.wstring(), logs.wstring()));
    setSite(site.get());
    server.on("/f.bin", FixtureResponse::file("f"));

    // No folder named: the user's download folder. A path sent back outside it is refused.
    page.post(R"({"name":"init","config":{"Debug":true,"LogFile":"../../escape.log"}})");
    EXPECT_EQ(Config::instance().folder(), downloads.wstring());
    page.post(addFile(1, server.url("/f.bin")));
    page.post(addFile(2, server.url("/f.bin"), member("pathLoc", profile.string()) + member("lenLoc", 10)));
    page.post(addFile(3, server.url("/f.bin"), member("pathLoc", (downloads / "sub" / "kept.bin").string())));
    runQueue();
    EXPECT_EQ(TempFolder::readFile(downloads / "f.bin"), "f");
    EXPECT_EQ(last(2, "down_error")["code"].asUInt(), 2u);
    EXPECT_EQ(TempFolder::readFile(profile), "the user's");
    EXPECT_TRUE(endsWith(3, "down_complete")) << shape(3);
    // The log is only a name, in the user's log folder.
    EXPECT_TRUE(fs::exists(logs / "escape.log"));
    EXPECT_FALSE(fs::exists(dir.path() / "escape.log"));

    // A folder outside the allowed ones, also through a link inside one: nothing written.
    for (const fs::path& folder : {other, downloads / "link"}) {
        page.post(R"({"name":"init","config":{"Folder":)" + quoted(folder.string()) + "}}");
        page.clear();
        page.post(addFile(4, server.url("/f.bin")));
        runQueue();
        EXPECT_EQ(last(4, "down_error")["code"].asUInt(), 2u) << folder;
    }
    EXPECT_TRUE(fs::is_empty(other));

    // A folder the user picks is allowed from then on, and remembered for the page's origin.
    FolderPicker::install(std::make_shared<PickedFolder>(other.wstring()));
    page.clear();
    page.post(R"({"name":"open_folder"})");
    EXPECT_EQ(page.events().at(0)["folder"].asString(), other.string());
    page.post(addFile(5, server.url("/f.bin")));
    runQueue();
    EXPECT_EQ(TempFolder::readFile(other / "f.bin"), "f");
    EXPECT_EQ(site->remembered, std::vector<std::wstring>{other.wstring()});
}
