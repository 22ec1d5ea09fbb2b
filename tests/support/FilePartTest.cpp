#include "support/FilePart.h"
#include "support/FileWriter.h"

#include "common/TempFolder.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using Dravik::IO::FilePart;
using Dravik::IO::FileWriter;

TEST(FilePart, LastBlockIsZeroFilledPastTheEnd)
{
    TempFolder temp;
    const std::string content = TempFolder::pattern(4500);
    const fs::path file = temp.writeFile("block.bin", content);
    FileWriter writer;
    ASSERT_TRUE(writer.open(file.wstring(), 1));
    const auto part = writer.openPart(4096, 1024);
    EXPECT_EQ(part->blockSize, 1024);
    ASSERT_EQ(part->read(), 404u);
    ASSERT_EQ(part->buffer.size(), 1024u);
    EXPECT_EQ(std::string(part->buffer.data(), 404), content.substr(4096));
    EXPECT_EQ(std::string(part->buffer.data() + 404, 620), std::string(620, '\0'));

    EXPECT_EQ(part->read(), 0u);  // at the end: nothing read, all zeros
    EXPECT_EQ(std::string(part->buffer.data(), 1024), std::string(1024, '\0'));
    part->close();
    writer.close();
}

TEST(FilePart, ReadsAndWritesThroughItsOwnPosition)
{
    TempFolder temp;
    const std::string content = TempFolder::pattern(100);
    const fs::path file = temp.writeFile("block.bin", content);
    FilePart part;
    part.blockSize = 4;
    // Backslash separators reach the file system as slashes.
    ASSERT_NE(part.open(temp.wide(L"\\block.bin"), L"r+b", FilePart::kShareDenyNone), nullptr);
    EXPECT_EQ(part.seek(10), 0);
    EXPECT_EQ(part.read(), 4u);
    EXPECT_EQ(std::string(part.buffer.data(), 4), content.substr(10, 4));
    EXPECT_EQ(part.seekFrom(2, 1), 0);  // now at 16
    EXPECT_EQ(part.write("xy", 2), 2u);
    EXPECT_EQ(part.seekFrom(3, 2), 0);  // past the end: a later write leaves a hole
    EXPECT_EQ(part.write("!", 1), 1u);
    part.close();

    const std::string after = TempFolder::readFile(file);
    ASSERT_EQ(after.size(), 104u);
    EXPECT_EQ(after.substr(14, 4), content.substr(14, 2) + "xy");
    EXPECT_EQ(after.substr(100), std::string("\0\0\0!", 4));
}

TEST(FilePart, FailedOpenReportsFailureEverywhere)
{
    TempFolder temp;
    FileWriter writer;
    EXPECT_FALSE(writer.open(temp.wide(L"/none.bin"), 1));
    const auto part = writer.openPart(0, 16);  // handed out all the same
    EXPECT_EQ(part->seek(0), -1);
    EXPECT_EQ(part->seekFrom(0, 0), -1);
    EXPECT_EQ(part->write("x", 1), 0u);
    EXPECT_EQ(part->read(), 0u);
    EXPECT_EQ(std::string(part->buffer.data(), 16), std::string(16, '\0'));
    part->close();
    part->close();
    EXPECT_TRUE(part->buffer.empty());
    EXPECT_FALSE(fs::exists(temp.path() / "none.bin"));
}
