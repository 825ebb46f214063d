#include "core/base/native_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "core/base/file_system.h"
#include "support/test_support.h"

// What the staging folder and the folder lock need of the system's file calls, on Linux and on
// Windows alike (there these run under Wine with NTFS rules: no rename over an open file without
// sharing it for deletion, no flock, no folder descriptors).
namespace zentrowe::testing {
namespace {

// A path from UTF-8 text, as the command line gives it.
std::filesystem::path utf8Path(const std::filesystem::path& folder, const char8_t* name)
{
    return folder / std::filesystem::path(std::u8string(name));
}

TEST(NativeIo, ARenameReplacesTheTargetEvenWhileEitherFileIsOpen)
{
    TempDir dir;
    const auto from = utf8Path(dir.path(), u8"新しい.bms");
    const auto to = utf8Path(dir.path(), u8"曲 chart.bms");
    writeFile(from, std::string_view("new"));
    writeFile(to, std::string_view("old"));
    const int openNew = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int openOld = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(openNew, 0);
    ASSERT_GE(openOld, 0);
    EXPECT_EQ(::rename(from.c_str(), to.c_str()), 0) << errno;
    char byte = 0;
    EXPECT_EQ(::pread(openNew, &byte, 1, 2), 1);  // the file moved, its reader reads on
    EXPECT_EQ(byte, 'w');
    EXPECT_EQ(::read(openNew, &byte, std::size_t{1}), 1);  // pread left the position at the start
    EXPECT_EQ(byte, 'n');
    ::close(openNew);
    ::close(openOld);
    EXPECT_FALSE(std::filesystem::exists(from));
    EXPECT_EQ(readFile(to), bytes({'n', 'e', 'w'}));
}

TEST(NativeIo, AFileKeepsItsIdentityUnderAnotherNameAndTwoFilesDiffer)
{
    TempDir dir;
    const auto first = utf8Path(dir.path(), u8"夜明け.wav");
    const auto second = dir / "second.wav";
    writeFile(first, std::string_view("a"));
    writeFile(second, std::string_view("a"));
    auto& files = realFileSystem();
    const auto before = files.status(first);
    ASSERT_EQ(before.kind, FileKind::File);
    EXPECT_TRUE(before.regular);
    EXPECT_FALSE(before.id == files.status(second).id);
    ASSERT_FALSE(files.rename(first, dir / "moved.wav"));
    EXPECT_TRUE(before.id == files.status(dir / "moved.wav").id);
    EXPECT_EQ(files.status(dir.path()).kind, FileKind::Folder);
    EXPECT_EQ(files.status(dir / "none").kind, FileKind::None);
}

TEST(NativeIo, AFolderLockRefusesASecondHolderUntilReleased)
{
    TempDir dir;
    const int first = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int second = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    ASSERT_EQ(::flock(first, LOCK_EX | LOCK_NB), 0);
    EXPECT_NE(::flock(second, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(::fsync(first), 0);  // a folder's entries flushed, or nothing to flush
    ::flock(first, LOCK_UN);
    ::close(first);
    EXPECT_EQ(::flock(second, LOCK_EX | LOCK_NB), 0);
    ::flock(second, LOCK_UN);
    ::close(second);
}

TEST(NativeIo, OpeningFailsWithTheErrorThePassesReport)
{
    TempDir dir;
    writeFile(dir / "there", std::string_view("x"));
    const struct {
        const char* name;
        int flags;
        int error;
    } cases[] = {
        {"missing", O_RDONLY | O_CLOEXEC, ENOENT},
        {"there", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, EEXIST},
        {"missing/deeper", O_WRONLY | O_CREAT | O_CLOEXEC, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / c.name;
        errno = 0;
        EXPECT_LT(::open(path.c_str(), c.flags, 0666), 0);
        EXPECT_EQ(errno, c.error);
    }
}

}  // namespace
}  // namespace zentrowe::testing
