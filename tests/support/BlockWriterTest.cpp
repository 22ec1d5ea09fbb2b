#include "support/BlockWriter.h"

#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

// The writing thread is woken once for several blocks: a block that finds it idle leaves its
// wake-up to the caller, a full queue wakes it at once, and a wake-up run after the writer is
// gone does nothing. The blocks land in order behind the offset.
TEST(BlockWriter, KeptWakeUpsWriteSeveralBlocksAtOnce)
{
    TempFolder temp;
    const auto path = temp.path() / "body.bin";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(::pwrite(fd, "head", 4, 0), 4);
    const size_t size = 1000;
    const std::string body = TempFolder::pattern(6 * size);
    std::vector<std::function<void()>> kept;
    {
        Dravik::IO::BlockWriter writer(fd, 4, [&](std::function<void()> wake) {
            kept.push_back(std::move(wake));
            return true;
        });
        auto write = [&](size_t index) {
            std::vector<char> block(body.begin() + index * size, body.begin() + (index + 1) * size);
            return writer.write(block);
        };
        auto reaches = [&](size_t blocks) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (writer.written() < int64_t(blocks * size) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return writer.written() == int64_t(blocks * size);
        };
        ASSERT_TRUE(write(0) && write(1));
        EXPECT_EQ(kept.size(), 1u) << "one wake-up for both blocks";
        EXPECT_EQ(writer.written(), 0) << "nothing has woken the writing thread yet";
        kept[0]();
        EXPECT_TRUE(reaches(2));
        ASSERT_TRUE(write(2) && write(3) && write(4) && write(5));
        EXPECT_EQ(kept.size(), 2u);
        EXPECT_TRUE(reaches(6)) << "the fourth block queued woke the thread itself";
        EXPECT_TRUE(writer.finish());
    }
    for (const auto& wake : kept)
        wake();
    ::close(fd);
    EXPECT_EQ(TempFolder::readFile(path), "head" + body);
}
