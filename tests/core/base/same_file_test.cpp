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
    // GCC's std::filesystem for Windows makes no symbolic link (create_symlink gives ENOSYS):
    // there the symbolic link's case is left out, the others still run.
    std::error_code noLink;
    std::filesystem::create_symlink(dir / "song.mid", dir / "soft.mid", noLink);
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
        if (noLink && c.target == dir / "soft.mid") {
#if !defined(_WIN32)
            ADD_FAILURE() << "no symbolic link made: " << noLink.message();
#endif
            continue;
        }
        EXPECT_EQ(isSameFile(c.target, dir / "song.mid"), c.same);
    }
    // Neither there yet: the same path resolved is the same file to be.
    EXPECT_TRUE(isSameFile(dir / "sub" / ".." / "new.mid", dir / "new.mid"));
}

}  // namespace
}  // namespace zentrowe
