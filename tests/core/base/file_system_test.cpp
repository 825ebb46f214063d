#include "core/base/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "core/base/native_io.h"
#include "core/base/utf8_path.h"
#include "support/test_support.h"

// What the staging folder's clean-up asks of the system's file calls: removing one name, a whole
// tree and listing a folder, with names in any script and, on Windows, paths past MAX_PATH.
namespace zentrowe::testing {
namespace {

// A folder inside `parent` whose full path passes 300 characters, made by the system's own calls.
std::filesystem::path makeLongFolder(const std::filesystem::path& parent)
{
    auto folder = parent;
    while (folder.native().size() < 300) {
        folder /= std::string(40, 'f');
        if (::mkdir(folder.c_str(), 0777) != 0) {
            ADD_FAILURE() << "making " << folder.native().size() << " characters: errno " << errno;
            break;
        }
    }
    return folder;
}

// A tree of folders and files named in several scripts, under `top` (which it makes).
void makeTree(const std::filesystem::path& top)
{
    ASSERT_EQ(::mkdir(top.c_str(), 0777), 0) << errno;
    const auto inner = top / utf8Path("曲 の 中");
    ASSERT_EQ(::mkdir(inner.c_str(), 0777), 0) << errno;
    ASSERT_EQ(::mkdir((inner / "empty").c_str(), 0777), 0) << errno;
    writeFile(top / "song.bms", std::string_view("chart"));
    writeFile(inner / utf8Path("夜明け.wav"), std::string_view("sound"));
}

enum class Removal { One, All };

TEST(RealFileSystem, RemovingTakesWhatItIsAskedAndNothingElse)
{
    struct Case {
        const char* name;
        Removal removal;
        std::function<std::filesystem::path(const std::filesystem::path&)> make;  // returns what to remove
        std::errc error;                                                          // std::errc{}: none
        bool gone;
    };
    const std::vector<Case> cases = {
        {"nothing there", Removal::One, [](const auto& dir) { return dir / "none"; }, {}, true},
        {"a file",
         Removal::One,
         [](const auto& dir) {
             writeFile(dir / utf8Path("曲.ogg"), std::string_view("x"));
             return dir / utf8Path("曲.ogg");
         },
         {},
         true},
        {"an empty folder",
         Removal::One,
         [](const auto& dir) {
             ::mkdir((dir / "empty").c_str(), 0777);
             return dir / "empty";
         },
         {},
         true},
        {"a folder holding a file", Removal::One,
         [](const auto& dir) {
             makeTree(dir / "tree");
             return dir / "tree";
         },
         std::errc::directory_not_empty, false},
        {"a tree",
         Removal::All,
         [](const auto& dir) {
             makeTree(dir / "tree");
             return dir / "tree";
         },
         {},
         true},
        {"a file, wholly",
         Removal::All,
         [](const auto& dir) {
             writeFile(dir / "file", std::string_view("x"));
             return dir / "file";
         },
         {},
         true},
        {"nothing there, wholly", Removal::All, [](const auto& dir) { return dir / "none"; }, {}, true},
        {"a tree past MAX_PATH",
         Removal::All,
         [](const auto& dir) {
             const auto deep = makeLongFolder(dir / "long");
             makeTree(deep / "tree");
             return dir / "long";
         },
         {},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ::mkdir((dir / "long").c_str(), 0777);
        const auto target = c.make(dir.path());
        auto& files = realFileSystem();
        const auto error = c.removal == Removal::One ? files.remove(target) : files.removeAll(target);
        EXPECT_EQ(error.value(), static_cast<int>(c.error)) << error.message();
        EXPECT_EQ(files.status(target).kind == FileKind::None, c.gone);
        EXPECT_EQ(files.status(dir.path()).kind, FileKind::Folder);  // never what holds it
        files.removeAll(dir / "long");  // TempDir's std::filesystem stops at MAX_PATH on Windows
    }
}

#ifndef _WIN32
TEST(RealFileSystem, RemovingALinkLeavesWhatItNames)
{
    TempDir dir;
    makeTree(dir / "kept");
    std::filesystem::create_directory_symlink(dir / "kept", dir / "link");
    ASSERT_EQ(::mkdir((dir / "tree").c_str(), 0777), 0);
    std::filesystem::create_directory_symlink(dir / "kept", dir / "tree" / "link");
    auto& files = realFileSystem();
    EXPECT_FALSE(files.remove(dir / "link"));
    EXPECT_FALSE(files.removeAll(dir / "tree"));
    EXPECT_EQ(files.status(dir / "link").kind, FileKind::None);
    EXPECT_EQ(files.status(dir / "tree").kind, FileKind::None);
    EXPECT_EQ(files.status(dir / "kept" / "song.bms").kind, FileKind::File);
}
#endif

TEST(RealFileSystem, ListingNamesWhatAFolderHoldsInUtf8)
{
    TempDir dir;
    ::mkdir((dir / "long").c_str(), 0777);
    const auto deep = makeLongFolder(dir / "long");
    struct Case {
        const char* name;
        std::filesystem::path folder;
        std::vector<std::string> names;  // sorted
    };
    const std::vector<Case> cases = {
        {"a tree's top", dir / "tree", {"song.bms", "曲 の 中"}},
        {"its inner folder", dir / "tree" / utf8Path("曲 の 中"), {"empty", "夜明け.wav"}},
        {"an empty folder", dir / "tree" / utf8Path("曲 の 中") / "empty", {}},
        {"past MAX_PATH", deep / "tree", {"song.bms", "曲 の 中"}},
        {"a missing folder", dir / "none", {}},
        {"a file", dir / "tree" / "song.bms", {}},
    };
    makeTree(dir / "tree");
    makeTree(deep / "tree");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto names = realFileSystem().list(c.folder);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names);
    }
    EXPECT_FALSE(realFileSystem().removeAll(dir / "long"));
}

}  // namespace
}  // namespace zentrowe::testing
