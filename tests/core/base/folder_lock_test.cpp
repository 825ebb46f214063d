#include "core/base/folder_lock.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

using namespace std::chrono_literals;

TEST(FolderLock, ASecondPassWaitsThenRefusesNamingTheFolder)
{
    TempDir dir;
    const auto folder = dir / "out";
    {
        auto first = FolderLock::acquire(folder);
        ASSERT_TRUE(first.ok()) << first.error().message;
        EXPECT_TRUE(std::filesystem::is_directory(folder));
        const auto second = FolderLock::acquire(folder, 50ms);
        ASSERT_FALSE(second.ok());
        EXPECT_EQ(second.error().code, ErrorCode::FolderBusy);
        EXPECT_EQ(second.error().message,
                  folder.string() + ": another convert, build or cut is writing into this folder; run one at a time");
    }
    // Released with the first lock; the folder it made and left empty went with it.
    EXPECT_FALSE(std::filesystem::exists(folder));
    {
        auto again = FolderLock::acquire(dir / "made" / "deeper", 50ms);
        ASSERT_TRUE(again.ok());
        writeFile(dir / "made" / "deeper" / "kept.txt", std::string_view("x"));
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "made" / "deeper" / "kept.txt"));

    writeFile(dir / "file", std::string_view("x"));
    const auto onFile = FolderLock::acquire(dir / "file");
    ASSERT_FALSE(onFile.ok());
    EXPECT_EQ(onFile.error().code, ErrorCode::WriteFailed);
}

}  // namespace
}  // namespace zentrowe::testing
