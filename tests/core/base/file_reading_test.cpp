#include "core/base/file_reading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "support/test_support.h"

namespace zentrowe {
namespace {

using testing::TempDir;

TEST(ReadWholeFile, ReadsEveryByte)
{
    TempDir dir;
    testing::Bytes content(200000);
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<std::uint8_t>(i * 7);
    }
    testing::writeFile(dir / "a.bin", content);
    const auto read = readWholeFile(dir / "a.bin");
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(*read, content);

    testing::writeFile(dir / "empty.bin", testing::Bytes{});
    const auto empty = readWholeFile(dir / "empty.bin");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->empty());
}

TEST(ReadWholeFile, MissingFileAndFolderAreCannotOpenNamingThePath)
{
    TempDir dir;
    for (const auto& path : {dir / "missing.mid", dir.path()}) {
        SCOPED_TRACE(path.string());
        const auto read = readWholeFile(path);
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().code, ErrorCode::CannotOpen);
        EXPECT_NE(read.error().message.find(path.string()), std::string::npos) << read.error().message;
    }
}


TEST(ReadFileBytes, GivesTheSameBytesAsTheGeneralReader)
{
    TempDir dir;
    testing::Bytes big(3 * 1024 * 1024 + 17);  // spans several large pages and ends mid-page
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i ^ (i >> 9));
    }
    testing::writeFile(dir / "big.bin", big);
    testing::writeFile(dir / "one.bin", testing::bytes({0x4D}));
    testing::writeFile(dir / "empty.bin", testing::Bytes{});
    // /proc files report a size of 0 but have content: they are read to their end.
    for (const auto& path : {dir / "big.bin", dir / "one.bin", dir / "empty.bin",
                             std::filesystem::path("/proc/self/status")}) {
        SCOPED_TRACE(path.string());
        const auto general = readWholeFile(path);
        auto mapped = readFileBytes(path);
        ASSERT_TRUE(general.ok());
        ASSERT_TRUE(mapped.ok());
        const auto view = mapped->bytes();
        if (path.string().rfind("/proc", 0) == 0) {
            EXPECT_GT(view.size(), 0u);
            continue;  // its content changes from one read to the next
        }
        EXPECT_EQ(testing::Bytes(view.begin(), view.end()), *general);
    }
    auto moved = std::move(readFileBytes(dir / "big.bin")).value();
    FileBytes other = std::move(moved);
    EXPECT_EQ(other.bytes().size(), big.size());
    EXPECT_EQ(other.bytes()[big.size() - 1], big.back());
    EXPECT_TRUE(moved.bytes().empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
}

TEST(ReadFileBytes, MissingFileAndFolderAreCannotOpen)
{
    TempDir dir;
    for (const auto& path : {dir / "missing.mid", dir.path()}) {
        SCOPED_TRACE(path.string());
        const auto read = readFileBytes(path);
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().code, ErrorCode::CannotOpen);
        EXPECT_NE(read.error().message.find(path.string()), std::string::npos);
    }
}

}  // namespace
}  // namespace zentrowe

namespace zentrowe {
namespace {

TEST(ReadFileBytes, RefusesWhatIsNotARegularFileWithoutWaitingOnIt)
{
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);  // no writer: a blocking open would hang
    for (const auto& path : {dir / "fifo", std::filesystem::path("/dev/zero"), dir.path()}) {
        SCOPED_TRACE(path.string());
        const auto mapped = readFileBytes(path);
        ASSERT_FALSE(mapped.ok());
        EXPECT_EQ(mapped.error().message, displayPath(path) + ": cannot read: not a regular file");
        const auto whole = readWholeFile(path);
        ASSERT_FALSE(whole.ok());
        EXPECT_EQ(whole.error().message, mapped.error().message);
    }
}

TEST(ReadFileBytes, ChecksTheHeadBeforeReadingAndMapsHugeFiles)
{
    TempDir dir;
    // Sparse files: their size costs neither disk nor, unless read, memory.
    const auto sparse = [&](const char* name, off_t size, const testing::Bytes& head, const testing::Bytes& tail) {
        const int fd = ::open((dir / name).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        EXPECT_EQ(::pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
        EXPECT_EQ(::pwrite(fd, tail.data(), tail.size(), size - static_cast<off_t>(tail.size())),
                  static_cast<ssize_t>(tail.size()));
        ::close(fd);
        return dir / name;
    };
    const testing::Bytes magic = testing::bytes({'M', 'T', 'h', 'd'});
    const testing::Bytes tail = testing::bytes({1, 2, 3});
    const auto refuseOther = [&](std::span<const std::uint8_t> head) -> Status {
        if (head.size() == 4 && std::equal(head.begin(), head.end(), magic.begin())) {
            return {};
        }
        return Error{ErrorCode::NotMidi, "wrong head of " + std::to_string(head.size()) + " bytes"};
    };
    const off_t huge = off_t{100} << 30;

    const auto wrong = readFileBytes(sparse("wrong.bin", huge, tail, tail), 4, refuseOther);
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.error().message, "wrong head of 4 bytes");
    const auto shortFile = readFileBytes(sparse("short.bin", 3, tail, tail), 4, refuseOther);
    ASSERT_FALSE(shortFile.ok());
    EXPECT_EQ(shortFile.error().message, "wrong head of 3 bytes");

    // Past the copying limit the file is mapped: its last bytes are there, read from the file.
    for (const off_t size : {static_cast<off_t>(kCopiedFileLimit) + 5, huge}) {
        SCOPED_TRACE(size);
        auto right = readFileBytes(sparse("right.bin", size, magic, tail), 4, refuseOther);
        ASSERT_TRUE(right.ok()) << right.error().message;
        const auto view = right->bytes();
        ASSERT_EQ(view.size(), static_cast<std::size_t>(size));
        EXPECT_EQ(testing::Bytes(view.begin(), view.begin() + 4), magic);
        EXPECT_EQ(testing::Bytes(view.end() - 3, view.end()), tail);
    }
}

}  // namespace
}  // namespace zentrowe
