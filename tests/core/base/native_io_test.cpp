#include "core/base/native_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "core/base/file_system.h"
#include "support/test_support.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

// What the staging folder and the folder lock need of the system's file calls, on Linux and on
// Windows alike (there these run under Wine with NTFS rules: no rename over an open file without
// sharing it for deletion, no flock, no folder descriptors).
namespace zentrowe::testing {
namespace {

#ifdef _WIN32
// Whether this runs under Wine, whose ntdll names its version.
bool underWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

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
    const int renamed = ::rename(from.c_str(), to.c_str());
#ifdef _WIN32
    if (renamed != 0 && errno == EACCES && underWine()) {
        ::close(openNew);
        ::close(openOld);
        GTEST_SKIP()
            << "Wine 8 lacks POSIX renames (FileRenameInformationEx, its bug 54997): no open target is replaced";
    }
#endif
    EXPECT_EQ(renamed, 0) << errno;
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

TEST(NativeIo, PathsPastTwoHundredAndSixtyCharactersWork)
{
    // Windows' wide calls stop at 260 characters (MAX_PATH) unless the path says otherwise.
    TempDir dir;
    auto folder = dir.path();
    while (folder.native().size() < 300) {
        folder /= std::string(40, 'f');
        ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0) << errno << " making " << folder.native().size() << " characters";
    }
    const auto file = utf8Path(folder, u8"曲.bms");
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0) << errno;
    EXPECT_EQ(::write(fd, "chart", std::size_t{5}), 5);
    ::close(fd);
    struct stat info { };
    ASSERT_EQ(::stat(file.c_str(), &info), 0) << errno;
    EXPECT_EQ(info.st_size, 5);
    const auto moved = folder / "moved.bms";
    ASSERT_EQ(::rename(file.c_str(), moved.c_str()), 0) << errno;
    EXPECT_EQ(realFileSystem().status(moved).kind, FileKind::File);
    EXPECT_EQ(realFileSystem().status(file).kind, FileKind::None);
    EXPECT_EQ(::unlink(moved.c_str()), 0) << errno;
    EXPECT_EQ(realFileSystem().status(moved).kind, FileKind::None);
}

}  // namespace
}  // namespace zentrowe::testing
