#include "common/TempFolder.h"
#include "support/Path.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(Path, JoinAcceptsBothSeparatorsAndResolvesDots)
{
    EXPECT_EQ(pathJoin(L"D:\\Downloads", L"setup.exe"), L"D:/Downloads/setup.exe");
    EXPECT_EQ(pathJoin(L"/srv/down/", L"a\\b.txt"), L"/srv/down/a/b.txt");
    EXPECT_EQ(pathJoin(L"/srv/down", L"./x/../y.bin"), L"/srv/down/y.bin");
    EXPECT_EQ(pathJoin(L"/srv/down", L"../../../etc"), L"/etc");
    EXPECT_EQ(pathJoin(L"", L"name.bin"), L"name.bin");
    EXPECT_EQ(pathJoin(L"/srv", L"/abs/file"), L"/abs/file");
    EXPECT_EQ(pathJoin(L"rel//dir", L""), L"rel/dir");
    EXPECT_EQ(pathJoin(L"../up", L"f"), L"../up/f");
}

TEST(Path, JoinIsNotCutAtAnyLength)
{
    const std::wstring dir(300, L'd');
    EXPECT_EQ(pathJoin(dir, L"file.bin").size(), 309u);
}

TEST(Path, FileNameAndExtension)
{
    EXPECT_EQ(pathFileName(L"D:\\Downloads\\setup.tar.gz"), L"setup.tar.gz");
    EXPECT_EQ(pathFileName(L"http://host/x.zip?v=2"), L"x.zip?v=2");
    EXPECT_EQ(pathFileName(L"plain"), L"plain");
    EXPECT_EQ(pathExtension(L"D:\\Downloads\\setup.tar.gz"), L".gz");
    EXPECT_EQ(pathExtension(L"D:\\Downloads\\README"), L"");
    EXPECT_EQ(pathExtension(L"/a.dir/README"), L"");
    EXPECT_EQ(nativePath(L"a\\b/c"), L"a/b/c");
    // Copies are numbered before the extension; a long stem gives way to the number, whole
    // characters at a time, and a leading dot is no extension.
    EXPECT_EQ(numberedFileName(L"setup.tar.gz", 2), L"setup.tar (2).gz");
    EXPECT_EQ(numberedFileName(L".profile", 1), L".profile (1)");
    const std::wstring longName = std::wstring(200, L'\u4e2d') + L".bin";
    const std::wstring copy = numberedFileName(longName, 12);
    EXPECT_LE(toUtf8(copy).size(), 255u);
    EXPECT_EQ(copy.substr(copy.size() - 9), L" (12).bin");
    EXPECT_EQ(copy.find_first_not_of(L'\u4e2d'), copy.size() - 9);
}

class PathOnDisk : public ::testing::Test {
protected:
    std::wstring wroot() const { return temp.wide(L""); }
    TempFolder temp;
    const std::string root = temp.path().string();
};

TEST_F(PathOnDisk, CreateDirectoriesFromBackslashPath)
{
    const std::wstring dir = wroot() + L"\\a\\b\\c";
    EXPECT_FALSE(pathExists(dir));
    EXPECT_TRUE(createDirectories(dir));
    EXPECT_TRUE(fs::is_directory(root + "/a/b/c"));
    EXPECT_TRUE(pathExists(dir));
    EXPECT_TRUE(createDirectories(dir));  // already there
}

TEST_F(PathOnDisk, CreateDirectoriesFailsUnderAFile)
{
    std::ofstream(root + "/file") << "x";
    EXPECT_FALSE(createDirectories(wroot() + L"/file/sub"));
}

TEST_F(PathOnDisk, FileSizeIs64BitAndZeroForMissingOrDirectories)
{
    const std::string big = root + "/sparse.bin";
    {
        std::FILE* f = std::fopen(big.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(fseeko(f, 5LL * 1024 * 1024 * 1024 - 1, SEEK_SET), 0);
        std::fputc(0, f);
        std::fclose(f);
    }
    EXPECT_EQ(fileSize(wroot() + L"/sparse.bin"), 5LL * 1024 * 1024 * 1024);
    EXPECT_EQ(fileSize(wroot() + L"/missing.bin"), 0);
    EXPECT_EQ(fileSize(wroot()), 0);
    std::ofstream(root + "/empty.bin");
    EXPECT_EQ(fileSize(wroot() + L"\\empty.bin"), 0);
}
