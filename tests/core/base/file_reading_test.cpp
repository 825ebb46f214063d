#include "core/base/file_reading.h"

#include <gtest/gtest.h>

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
