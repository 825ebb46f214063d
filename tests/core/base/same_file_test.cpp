#include "core/base/same_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace zentrowe {
namespace {

using testing::TempDir;

TEST(SameFile, AnyNameForTheKeptFileIsTheSameFile)
{
    TempDir dir;
    testing::writeFile(dir / "song.mid", std::string_view("MThd"));
    testing::writeFile(dir / "other.mid", std::string_view("MThd"));
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_hard_link(dir / "song.mid", dir / "hard.mid");
    std::filesystem::create_symlink(dir / "song.mid", dir / "soft.mid");
    const struct {
        const char* what;
        std::filesystem::path target;
        bool same;
    } cases[] = {
        {"the same path", dir / "song.mid", true},
        {"another spelling", dir / "sub" / ".." / "song.mid", true},
        {"a hard link", dir / "hard.mid", true},
        {"a symbolic link", dir / "soft.mid", true},
        {"another file with the same bytes", dir / "other.mid", false},
        {"a name not there yet", dir / "new.mid", false},
        {"a folder that is not there", dir / "none" / "song.mid", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(isSameFile(c.target, dir / "song.mid"), c.same);
    }
    // Neither there yet: the same path resolved is the same file to be.
    EXPECT_TRUE(isSameFile(dir / "sub" / ".." / "new.mid", dir / "new.mid"));
}

}  // namespace
}  // namespace zentrowe
