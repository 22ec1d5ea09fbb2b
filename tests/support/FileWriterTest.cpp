#include "support/FileWriter.h"

#include "common/TempFolder.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using Dravik::IO::FileWriter;

TEST(FileWriter, WindowsStylePathCreatesTheMissingDirectories)
{
    TempFolder temp;
    const std::wstring path = temp.wide(L"\\D\\a\\b\\file.bin");
    FileWriter writer;
    ASSERT_TRUE(writer.openWithMode(path, L"wb"));
    EXPECT_EQ(writer.path(), path);
    EXPECT_TRUE(writer.close());
    EXPECT_TRUE(fs::is_directory(temp.path() / "D" / "a" / "b"));
    EXPECT_EQ(fs::file_size(temp.path() / "D" / "a" / "b" / "file.bin"), 0u);
}

TEST(FileWriter, ForwardSlashPathCreatesTheMissingDirectories)
{
    TempFolder temp;
    FileWriter writer;
    ASSERT_TRUE(writer.open(temp.wide(L"/D/a/b/file.bin"), 2));
    ASSERT_TRUE(writer.write("abc", 3));
    EXPECT_TRUE(writer.close());
    EXPECT_EQ(TempFolder::readFile(temp.path() / "D" / "a" / "b" / "file.bin"), "abc");
}

TEST(FileWriter, PathWithoutDirectoryOpensInTheCurrentDirectory)
{
    TempFolder temp;
    const fs::path previous = fs::current_path();
    fs::current_path(temp.path());
    FileWriter writer;
    const bool opened = writer.open(L"plain.bin", 2);
    writer.close();
    fs::current_path(previous);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(fs::exists(temp.path() / "plain.bin"));
}

TEST(FileWriter, ResumeReplacesBytesInPlace)
{
    TempFolder temp;
    const std::string original = TempFolder::pattern(5000);
    const fs::path file = temp.writeFile("resume.bin", original);

    FileWriter writer;
    ASSERT_TRUE(writer.open(file.wstring(), 1));  // "rb+": kept, not emptied
    ASSERT_TRUE(writer.seek(4096, 0));
    const std::string block(100, 'Z');
    ASSERT_TRUE(writer.write(block.data(), 100));
    ASSERT_TRUE(writer.close());

    const std::string after = TempFolder::readFile(file);
    ASSERT_EQ(after.size(), 5000u);
    EXPECT_EQ(after.substr(0, 4096), original.substr(0, 4096));
    EXPECT_EQ(after.substr(4096, 100), block);
    EXPECT_EQ(after.substr(4196), original.substr(4196));

    ASSERT_TRUE(writer.open(file.wstring(), 2));  // "wb" empties it
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST(FileWriter, FailedOpenAndClosedWriterReportFailure)
{
    TempFolder temp;
    const fs::path missing = temp.path() / "sub" / "missing.bin";
    FileWriter writer;
    EXPECT_FALSE(writer.open(missing.wstring(), 1));  // "rb+" creates nothing
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_FALSE(writer.write("x", 1));
    EXPECT_FALSE(writer.seek(0, 0));
    EXPECT_FALSE(writer.flush());
    EXPECT_FALSE(writer.close());

    FileWriter blocked;  // a directory component that is a file cannot be created
    temp.writeFile("plain", "x");
    EXPECT_FALSE(blocked.openWithMode(temp.wide(L"/plain/inner/f.bin"), L"wb"));

    FileWriter writer2;
    ASSERT_TRUE(writer2.open((temp.path() / "w.bin").wstring(), 2));
    EXPECT_FALSE(writer2.write("x", 0));
    EXPECT_FALSE(writer2.write(nullptr, 1));
    EXPECT_TRUE(writer2.close());
    EXPECT_FALSE(writer2.close());
    EXPECT_FALSE(writer2.write("x", 1));
    EXPECT_EQ(fs::file_size(temp.path() / "w.bin"), 0u);
}

TEST(FileWriter, FlushHandsTheBytesToTheSystemAndTheDestructorCloses)
{
    TempFolder temp;
    const fs::path file = temp.path() / "flush.bin";
    {
        FileWriter writer;
        ASSERT_TRUE(writer.open(file.wstring(), 2));
        ASSERT_TRUE(writer.write("abcd", 4));
        ASSERT_TRUE(writer.flush());
        EXPECT_EQ(TempFolder::readFile(file), "abcd");
        ASSERT_TRUE(writer.write("ef", 2));
    }
    EXPECT_EQ(TempFolder::readFile(file), "abcdef");
}

TEST(FileWriter, PresetSizeExtendsOnlyAShorterFile)
{
    TempFolder temp;
    const fs::path file = temp.path() / "preset.bin";
    FileWriter writer;
    writer.presetSize = 10000;
    ASSERT_TRUE(writer.open(file.wstring(), 2));
    ASSERT_TRUE(writer.write("head", 4));  // positioned at the start again
    ASSERT_TRUE(writer.close());
    const std::string extended = TempFolder::readFile(file);
    ASSERT_EQ(extended.size(), 10000u);
    EXPECT_EQ(extended.substr(0, 4), "head");
    EXPECT_EQ(extended.substr(4), std::string(9996, '\0'));

    const fs::path longer = temp.writeFile("longer.bin", TempFolder::pattern(20000));
    FileWriter keeper;
    keeper.presetSize = 10000;
    ASSERT_TRUE(keeper.open(longer.wstring(), 1));
    ASSERT_TRUE(keeper.close());
    EXPECT_EQ(TempFolder::readFile(longer), TempFolder::pattern(20000));
}

TEST(FileWriter, OffsetsBeyondFourGibibytes)
{
    TempFolder temp;
    const fs::path file = temp.path() / "sparse.bin";
    const int64_t offset = (int64_t{1} << 32) + 4096;
    FileWriter writer;
    ASSERT_TRUE(writer.open(file.wstring(), 2));
    ASSERT_TRUE(writer.seek(offset, 0));
    ASSERT_TRUE(writer.write("tail", 4));
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(fs::file_size(file), static_cast<uintmax_t>(offset + 4));

    ASSERT_TRUE(writer.open(file.wstring(), 1));
    ASSERT_TRUE(writer.seek(-4, 2));
    ASSERT_TRUE(writer.write("TAIL", 4));
    const auto part = writer.openPart(offset, 8);
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(part->read(), 4u);
    EXPECT_EQ(std::string(part->buffer.data(), 8), std::string("TAIL\0\0\0\0", 8));
    part->close();
}
