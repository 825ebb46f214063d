#include "core/base/atomic_file_writer.h"

#include <gtest/gtest.h>

#include "support/faulty_file_system.h"
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

// Opens, writes and commits, stopping at the first failure, as every writer of a file does.
Status writeWhole(const std::filesystem::path& target, std::string_view text)
{
    AtomicFileWriter writer(target, realFileSystem());
    Status status = writer.open();
    if (status) {
        status = writer.write(text);
    }
    return status ? writer.commit() : status;
}

TEST(AtomicFileWriter, AFailedPutInPlaceLeavesTheEarlierFileAndNoTemporaryFile)
{
    // Through the file-system seam, so that the refusals happen as root too.
    const struct {
        const char* what;
        bool earlier;       // a file of the target's name was there before
        bool refuseTarget;  // every change to the target fails with EACCES
        int failMoveAt;     // the Nth rename or exchange fails with EIO
        bool written;
    } cases[] = {
        {"a new file its folder refuses", false, true, 0, false},
        {"an earlier file its folder refuses", true, true, 0, false},
        {"a new file whose rename fails", false, false, 1, false},
        {"an exchange that fails falls back to a rename", true, false, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        if (c.earlier) {
            testing::writeFile(dir / "out.txt", std::string_view("old"));
        }
        testing::FaultyFileSystem files;
        files.failAt = c.refuseTarget ? dir / "out.txt" : std::filesystem::path();
        files.failMoveAt = c.failMoveAt;
        AtomicFileWriter writer(dir / "out.txt", files);
        ASSERT_TRUE(writer.open().ok());
        ASSERT_TRUE(writer.write(std::string_view("new")).ok());
        const auto committed = writer.commit();
        EXPECT_EQ(committed.ok(), c.written);
        if (!c.written) {
            EXPECT_EQ(committed.error().code, ErrorCode::WriteFailed);
            EXPECT_NE(committed.error().message.find("out.txt"), std::string::npos) << committed.error().message;
        }
        if (c.written || c.earlier) {
            EXPECT_EQ(testing::readText(dir / "out.txt"), c.written ? "new" : "old");
        }
        EXPECT_EQ(entriesIn(dir.path()), c.written || c.earlier ? 1u : 0u) << "no temporary file left";
    }
}

TEST(AtomicFileWriter, APairWhoseSecondCannotBePutInPlaceKeepsBothEarlierFiles)
{
    // Where names cannot be exchanged (NTFS), the earlier chart must still be able to go back.
    for (const bool noExchange : {false, true}) {
        SCOPED_TRACE(noExchange ? "no exchange" : "exchange");
        TempDir dir;
        testing::writeFile(dir / "chart.bms", std::string_view("old chart"));
        testing::FaultyFileSystem files;
        files.failAt = dir / "K-Midi.mid";
        files.noExchange = noExchange;
        AtomicFileWriter first(dir / "chart.bms", files);
        AtomicFileWriter second(dir / "K-Midi.mid", files);
        ASSERT_TRUE(first.open().ok() && first.write(std::string_view("new chart")).ok());
        ASSERT_TRUE(second.open().ok() && second.write(std::string_view("new keysounds")).ok());
        const auto committed = commitTogether(first, second);
        ASSERT_FALSE(committed.ok());
        EXPECT_NE(committed.error().message.find("K-Midi.mid"), std::string::npos) << committed.error().message;
        EXPECT_EQ(testing::readText(dir / "chart.bms"), "old chart");
        EXPECT_EQ(entriesIn(dir.path()), 1u);
    }
}

TEST(AtomicFileWriter, ReplacesTheTargetAndLeavesNoTemporaryFile)
{
    TempDir dir;
    testing::writeFile(dir / "out.txt", std::string_view("old"));
    ASSERT_TRUE(writeWhole(dir / "out.txt", std::string_view("new content")).ok());
    EXPECT_EQ(testing::readText(dir / "out.txt"), "new content");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(AtomicFileWriter, ANameNearTheFileSystemsLimitIsWrittenThoughItsTemporaryNameWouldNotFit)
{
    // 255 bytes is the longest name ext4, XFS and tmpfs take; the temporary name adds 14.
    for (const std::size_t length : {std::size_t{241}, std::size_t{242}, std::size_t{250}, std::size_t{255}}) {
        SCOPED_TRACE(length);
        TempDir dir;
        const auto target = dir / (std::string(length - 6, 'x') + "_N.bms");
        ASSERT_TRUE(writeWhole(target, std::string_view("chart")).ok());
        EXPECT_EQ(testing::readText(target), "chart");
        EXPECT_EQ(entriesIn(dir.path()), 1u);
    }
}

TEST(AtomicFileWriter, AbandonedWriteLeavesTheOldFile)
{
    TempDir dir;
    testing::writeFile(dir / "out.txt", std::string_view("old"));
    {
        AtomicFileWriter writer(dir / "out.txt", realFileSystem());
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
    const auto written = writeWhole(dir / "out.txt", std::string_view("new"));
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(written.error().message.find((dir / "out.txt").string()), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "out.txt"));
    EXPECT_EQ(entriesIn(dir.path()), 1u) << "the temporary file is removed";
}

TEST(AtomicFileWriter, UnwritableOrMissingFolderIsWriteFailed)
{
    TempDir dir;
    const auto missing = writeWhole(dir / "no-such-folder" / "out.txt", std::string_view("x"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(missing.error().message.find("out.txt"), std::string::npos);

    // Nothing may be created in /proc, not even by root.
    const auto proc = writeWhole("/proc/zentrowe-test-out.txt", std::string_view("x"));
    ASSERT_FALSE(proc.ok());
    EXPECT_EQ(proc.error().code, ErrorCode::WriteFailed);
    // No read-only folder here: root writes into one. /proc refuses everyone, and the staging
    // folder's tests refuse writes through a fake file system.
}

TEST(AtomicFileWriter, PairIsReplacedWholeOrNotAtAll)
{
    struct Case {
        const char* name;
        bool firstExisted;
    };
    for (const Case c : {Case{"earlier chart kept", true}, Case{"no earlier chart", false}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.firstExisted) {
            testing::writeFile(dir / "song.bms", std::string_view("old chart"));
        }
        // A non-empty folder where the second file goes: renaming onto it fails after the first
        // file is already in place.
        std::filesystem::create_directories(dir / "K-Midi.mid" / "inside");
        AtomicFileWriter chart(dir / "song.bms", realFileSystem());
        AtomicFileWriter keysounds(dir / "K-Midi.mid", realFileSystem());
        ASSERT_TRUE(chart.open().ok());
        ASSERT_TRUE(chart.write(std::string_view("new chart")).ok());
        ASSERT_TRUE(keysounds.open().ok());
        ASSERT_TRUE(keysounds.write(std::string_view("MThd")).ok());
        const auto both = commitTogether(chart, keysounds);
        ASSERT_FALSE(both.ok());
        EXPECT_EQ(both.error().code, ErrorCode::WriteFailed);
        EXPECT_NE(both.error().message.find("K-Midi.mid"), std::string::npos) << both.error().message;
        if (c.firstExisted) {
            EXPECT_EQ(testing::readText(dir / "song.bms"), "old chart");
        } else {
            EXPECT_FALSE(std::filesystem::exists(dir / "song.bms"));
        }
        EXPECT_TRUE(std::filesystem::is_directory(dir / "K-Midi.mid" / "inside"));
        EXPECT_EQ(entriesIn(dir.path()), c.firstExisted ? 2u : 1u) << "no temporary file stays";
    }

    TempDir dir;
    testing::writeFile(dir / "song.bms", std::string_view("old chart"));
    testing::writeFile(dir / "K-Midi.mid", std::string_view("old keysounds"));
    AtomicFileWriter chart(dir / "song.bms", realFileSystem());
    AtomicFileWriter keysounds(dir / "K-Midi.mid", realFileSystem());
    ASSERT_TRUE(chart.open().ok());
    ASSERT_TRUE(chart.write(std::string_view("new chart")).ok());
    ASSERT_TRUE(keysounds.open().ok());
    ASSERT_TRUE(keysounds.write(std::string_view("new keysounds")).ok());
    ASSERT_TRUE(commitTogether(chart, keysounds).ok());
    EXPECT_EQ(testing::readText(dir / "song.bms"), "new chart");
    EXPECT_EQ(testing::readText(dir / "K-Midi.mid"), "new keysounds");
    EXPECT_EQ(entriesIn(dir.path()), 2u);
}

}  // namespace
}  // namespace zentrowe
