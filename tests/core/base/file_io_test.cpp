#include "core/base/file_io.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/test_support.h"

namespace zentrowe {
namespace {

using testing::TempDir;

std::size_t entriesIn(const std::filesystem::path& folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

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

TEST(AtomicFileWriter, ReplacesTheTargetAndLeavesNoTemporaryFile)
{
    TempDir dir;
    testing::writeFile(dir / "out.txt", std::string_view("old"));
    ASSERT_TRUE(writeFileAtomically(dir / "out.txt", std::string_view("new content")).ok());
    EXPECT_EQ(testing::readText(dir / "out.txt"), "new content");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(AtomicFileWriter, WriteAtPatchesBytesAlreadyWritten)
{
    TempDir dir;
    AtomicFileWriter writer(dir / "riff.bin");
    ASSERT_TRUE(writer.open().ok());
    ASSERT_TRUE(writer.write(std::string_view("RIFF????data")).ok());
    ASSERT_TRUE(writer.writeAt(4, testing::bytes({'1', '2', '3', '4'})).ok());
    ASSERT_TRUE(writer.commit().ok());
    EXPECT_EQ(testing::readText(dir / "riff.bin"), "RIFF1234data");
}

TEST(AtomicFileWriter, AbandonedWriteLeavesTheOldFile)
{
    TempDir dir;
    testing::writeFile(dir / "out.txt", std::string_view("old"));
    {
        AtomicFileWriter writer(dir / "out.txt");
        ASSERT_TRUE(writer.open().ok());
        ASSERT_TRUE(writer.write(std::string_view("half")).ok());
        EXPECT_EQ(entriesIn(dir.path()), 2u) << "the new bytes go to a file beside the target";
        // destroyed without commit, as when a pass fails or is cancelled
    }
    EXPECT_EQ(testing::readText(dir / "out.txt"), "old");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(AtomicFileWriter, FailedRenameLeavesTheOldFileAndReportsWriteFailed)
{
    TempDir dir;
    // A folder in the target's place: the rename onto it fails.
    std::filesystem::create_directory(dir / "out.txt");
    const auto written = writeFileAtomically(dir / "out.txt", std::string_view("new"));
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(written.error().message.find((dir / "out.txt").string()), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "out.txt"));
    EXPECT_EQ(entriesIn(dir.path()), 1u) << "the temporary file is removed";
}

TEST(AtomicFileWriter, UnwritableOrMissingFolderIsWriteFailed)
{
    TempDir dir;
    const auto missing = writeFileAtomically(dir / "no-such-folder" / "out.txt", std::string_view("x"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(missing.error().message.find("out.txt"), std::string::npos);

    // Nothing may be created in /proc, not even by root.
    const auto proc = writeFileAtomically("/proc/zentrowe-test-out.txt", std::string_view("x"));
    ASSERT_FALSE(proc.ok());
    EXPECT_EQ(proc.error().code, ErrorCode::WriteFailed);

    // Root writes into read-only folders; the /proc case above stands for it then.
    if (::geteuid() != 0) {
        std::filesystem::create_directory(dir / "locked");
        std::filesystem::permissions(dir / "locked",
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        const auto locked = writeFileAtomically(dir / "locked" / "out.txt", std::string_view("x"));
        ASSERT_FALSE(locked.ok());
        EXPECT_EQ(locked.error().code, ErrorCode::WriteFailed);
    }
}

}  // namespace
}  // namespace zentrowe

namespace zentrowe {
namespace {

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
