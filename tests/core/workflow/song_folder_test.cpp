#include "core/workflow/song_folder.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"

namespace zentrowe::workflow {
namespace {

namespace fs = std::filesystem;

TEST(SongFolder, TheDefaultNameIsTheFilesStemMadeValidEverywhere)
{
    const std::vector<std::pair<fs::path, std::string>> cases = {
        {"/music/52-Dreamy-Oriental-Nights.mid", "52-Dreamy-Oriental-Nights"},
        {"/music/夜明けのテーマ.MID", "夜明けのテーマ"},
        {"/music/a:b?.mid", "a_b_"},
        {"/music/what is it....mid", "what is it"},
        {"/music/con.mid", "con_"},
        {"/music/LPT1.mid", "LPT1_"},
        {"/music/COM10.mid", "COM10"},  // only COM1 to COM9 are devices
        {"/music/console.mid", "console"},
        {"/music/....mid", "song"},
        {"/music/.mid", ".mid"},  // a dot file's stem is its whole name
    };
    for (const auto& [file, name] : cases) {
        SCOPED_TRACE(file.string());
        EXPECT_EQ(songFolderName(file), name);
        EXPECT_TRUE(checkSongFolderName(songFolderName(file)).ok());
    }
}

TEST(SongFolder, NamesNoSystemCanHoldAreRefusedWithTheirReason)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "folderNameEmpty"},
        {".", "folderNameEmpty"},
        {"..", "folderNameEmpty"},
        {"a/b", "folderNameCharacter"},
        {"a\\b", "folderNameCharacter"},
        {"what?", "folderNameCharacter"},
        {"tab\there", "folderNameCharacter"},
        {"song.", "folderNameEnding"},
        {"song ", "folderNameEnding"},
        {"CON", "folderNameReserved"},
        {"con", "folderNameReserved"},
        {"nul.txt", "folderNameReserved"},
        {"com1", "folderNameReserved"},
    };
    for (const auto& [name, subject] : cases) {
        SCOPED_TRACE(name);
        const Status checked = checkSongFolderName(name);
        ASSERT_FALSE(checked.ok());
        EXPECT_EQ(checked.error().code, ErrorCode::InvalidSetting);
        EXPECT_EQ(checked.error().subject, subject);
        EXPECT_EQ(checked.error().value, name);
        // One sentence, on one line, whatever the name holds.
        EXPECT_EQ(checked.error().message.find('\n'), std::string::npos);
        EXPECT_EQ(checked.error().message.find('\t'), std::string::npos);
    }
    for (const char* name : {"song", "Con Te Partirò", "CONSOLE", "a.b", "夜明けのテーマ"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(checkSongFolderName(name).ok());
    }
}

TEST(SongFolder, PreparingMakesTheLibraryAndTheFolderOrSaysWhyNot)
{
    testing::TempDir temp;
    const fs::path library = temp.path() / "library";
    ASSERT_TRUE(prepareSongFolder(library / "ode").ok());
    EXPECT_TRUE(fs::is_directory(library / "ode"));
    ASSERT_TRUE(prepareSongFolder(library / "ode").ok());  // a song built before

    // A library that is a file cannot hold folders, even for root: nothing is made.
    testing::writeFile(temp.path() / "not-a-folder", std::string_view("x"));
    const Status underFile = prepareSongFolder(temp.path() / "not-a-folder" / "ode");
    ASSERT_FALSE(underFile.ok());
    EXPECT_EQ(underFile.error().code, ErrorCode::WriteFailed);
    EXPECT_EQ(underFile.error().path, (temp.path() / "not-a-folder" / "ode").string());
    EXPECT_EQ(underFile.error().subject, "create the folder");

    testing::writeFile(library / "taken", std::string_view("x"));
    const Status taken = prepareSongFolder(library / "taken");
    ASSERT_FALSE(taken.ok());
    EXPECT_EQ(taken.error().code, ErrorCode::WriteFailed);

    const Status device = prepareSongFolder(library / "CON");
    ASSERT_FALSE(device.ok());
    EXPECT_EQ(device.error().subject, "folderNameReserved");
    EXPECT_FALSE(fs::exists(library / "CON"));
}

// Only a folder with nothing in it goes; a link to one, a file, or a folder with a file stays.
TEST(SongFolder, OnlyAnEmptyFolderIsRemovedAfterARefusal)
{
    testing::TempDir temp;
    fs::create_directory(temp / "empty");
    fs::create_directory(temp / "holds");
    testing::writeFile(temp / "holds" / "a.wav", "x");
    fs::create_directory(temp / "target");
    fs::create_directory_symlink(temp / "target", temp / "link");
    testing::writeFile(temp / "file", "x");
    struct Case {
        const char* name;
        bool removed;
    };
    for (const Case c : {Case{"empty", true}, Case{"holds", false}, Case{"link", false}, Case{"file", false},
                         Case{"missing", false}}) {
        SCOPED_TRACE(c.name);
        const bool there = fs::exists(fs::symlink_status(temp / c.name));
        EXPECT_EQ(removeEmptySongFolder(temp / c.name), c.removed);
        EXPECT_EQ(fs::exists(fs::symlink_status(temp / c.name)), there && !c.removed);
    }
    EXPECT_TRUE(fs::is_directory(temp / "target"));
}

}  // namespace
}  // namespace zentrowe::workflow
