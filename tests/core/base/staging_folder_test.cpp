#include "core/base/staging_folder.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "support/faulty_file_system.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

using base::Recovery;
using base::StagingFolder;

using Files = std::map<std::string, std::string>;

// An earlier build's folder, a file of the user's beside it, and a rebuild staged: a.wav and the
// chart replace earlier files, c.wav is new, b.wav is removed once the chart is in.
class Staging : public ::testing::Test {
protected:
    const Files kBefore = {{"a.wav", "old a"}, {"b.wav", "old b"}, {"mine.txt", "the user's"},
                           {"song_N.bms", "old chart"}};
    const Files kAfter = {{"a.wav", "new a"}, {"c.wav", "new c"}, {"mine.txt", "the user's"},
                          {"song_N.bms", "new chart"}};
    const std::vector<std::string> kOrder = {"a.wav", "c.wav", "song_N.bms"};
    const std::set<std::string> kOurs = {"a.wav", "b.wav", "song_N.bms"};

    std::filesystem::path out() const { return m_dir / "out"; }

    // The output folder as it was before the commit, and its staging folder with the new files.
    StagingFolder stage(FileSystem& fileSystem)
    {
        std::filesystem::remove_all(out());
        std::filesystem::create_directory(out());
        for (const auto& [name, text] : kBefore) {
            writeFile(out() / name, text);
        }
        auto staging = StagingFolder::create(out(), fileSystem);
        EXPECT_TRUE(staging.ok());
        for (const auto& name : kOrder) {
            writeFile(staging->path() / name, kAfter.at(name));
        }
        return std::move(staging).value();
    }

    // Every file the output folder holds, the staging folder aside.
    Files files() const
    {
        Files found;
        for (const auto& entry : std::filesystem::directory_iterator(out())) {
            if (entry.path().filename() != StagingFolder::kName) {
                found[entry.path().filename().string()] = readText(entry.path());
            }
        }
        return found;
    }

    TempDir m_dir;
};

TEST_F(Staging, ACommitMovesTheFilesInRemovesWhatItWasToAndLeavesNoStagingFolder)
{
    for (const bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "files swapped in one step" : "a file system without exchange");
        FaultyFileSystem fileSystem;
        fileSystem.noExchange = !exchange;
        {
            auto staging = stage(fileSystem);
            const auto removed = staging.commit(kOrder, kOurs, {"b.wav"});
            ASSERT_TRUE(removed.ok()) << removed.error().message;
            EXPECT_EQ(*removed, std::vector<std::filesystem::path>{out() / "b.wav"});
        }
        EXPECT_EQ(files(), kAfter);
        EXPECT_FALSE(std::filesystem::exists(out() / StagingFolder::kName));
    }
}

// Once the journal is on the disk, a crash ends in the staged files being moved in, so their bytes
// go to the disk first; one that cannot stops the commit before anything moves.
TEST_F(Staging, StagedFilesReachTheDiskBeforeTheJournalAndOneThatCannotStopsTheCommit)
{
    {
        FaultyFileSystem fileSystem;
        auto staging = stage(fileSystem);
        std::vector<std::filesystem::path> staged;
        for (const auto& name : kOrder) {
            staged.push_back(staging.path() / name);
        }
        ASSERT_TRUE(staging.commit(kOrder, kOurs, {"b.wav"}).ok());
        EXPECT_EQ(fileSystem.synced, staged);
        EXPECT_EQ(fileSystem.syncedAtDurableWrite, staged.size());
    }
    FaultyFileSystem fileSystem;
    auto staging = stage(fileSystem);
    fileSystem.failAt = staging.path() / "c.wav";
    const auto committed = staging.commit(kOrder, kOurs, {"b.wav"});
    ASSERT_FALSE(committed.ok());
    EXPECT_EQ(committed.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(committed.error().message.find("the folder's earlier files are untouched"), std::string::npos)
        << committed.error().message;
    EXPECT_EQ(files(), kBefore);
}

TEST_F(Staging, AKilledCommitIsFinishedOrUndoneByTheNextStagingFolderWithNoFileLost)
{
    // A pass killed after each change the commit makes: what it leaves is what the fake leaves
    // once every later change fails.
    for (const bool exchange : {true, false}) {
        bool finished = false;
        for (int stopAfter = 0; !finished; ++stopAfter) {
            SCOPED_TRACE(std::string(exchange ? "exchange" : "no exchange") + ", killed after change " +
                         std::to_string(stopAfter));
            ASSERT_LT(stopAfter, 30);
            FaultyFileSystem fileSystem;
            fileSystem.noExchange = !exchange;
            {
                auto staging = stage(fileSystem);
                const int made = fileSystem.changes;
                fileSystem.stopAfter = made + stopAfter;
                (void)staging.commit(kOrder, kOurs, {"b.wav"});
                finished = fileSystem.changes < fileSystem.stopAfter;
            }
            auto next = StagingFolder::create(out());
            ASSERT_TRUE(next.ok()) << next.error().message;
            const Files now = files();
            if (stopAfter == 0) {
                EXPECT_EQ(now, kBefore);
            }
            if (now == kAfter) {
                EXPECT_NE(next->recovery(), Recovery::Undone);
            } else {
                EXPECT_EQ(now, kBefore);
                EXPECT_NE(next->recovery(), Recovery::Completed);
            }
            if (finished) {
                EXPECT_EQ(now, kAfter);
            }
            EXPECT_TRUE(std::filesystem::is_empty(next->path() / "replaced"));
        }
    }
}

TEST_F(Staging, AFailingMovePutsEveryEarlierFileBackAndSaysSo)
{
    struct Case {
        const char* name;
        int failMoveAt;
        bool exchange;
        bool undoFails;  // every change after the fault fails too: the next staging folder undoes
    };
    const std::vector<Case> cases = {
        {"first swap", 1, true, false},          {"setting the first earlier file aside", 2, true, false},
        {"the new file", 3, true, false},         {"the chart", 4, true, false},
        {"the chart, no exchange", 7, false, false}, {"the chart, and the undo fails", 4, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FaultyFileSystem fileSystem;
        fileSystem.noExchange = !c.exchange;
        {
            auto staging = stage(fileSystem);
            fileSystem.failMoveAt = c.failMoveAt;
            fileSystem.stopAtFirstFault = c.undoFails;
            const auto committed = staging.commit(kOrder, kOurs, {"b.wav"});
            ASSERT_FALSE(committed.ok());
            EXPECT_EQ(committed.error().code, ErrorCode::WriteFailed);
            EXPECT_NE(committed.error().message.find("cannot move into place"), std::string::npos)
                << committed.error().message;
            const std::string said = c.undoFails ? "the next build into the folder puts them back"
                                                 : "the folder's earlier files are back in place";
            EXPECT_NE(committed.error().message.find(said), std::string::npos) << committed.error().message;
            if (!c.undoFails) {
                EXPECT_EQ(files(), kBefore);
            }
        }
        EXPECT_EQ(std::filesystem::exists(out() / StagingFolder::kName), c.undoFails);
        auto next = StagingFolder::create(out());
        ASSERT_TRUE(next.ok()) << next.error().message;
        EXPECT_EQ(files(), kBefore);
        EXPECT_EQ(next->recovery(), c.undoFails ? Recovery::Undone : Recovery::None);
    }
}

TEST_F(Staging, WhatNoBuildMadeOrAFolderIsNeverReplacedNorTheFolderLeftHalfWritten)
{
    struct Case {
        const char* name;
        bool folder;       // a folder of the user's at c.wav, else a file
        std::string subject;
    };
    for (const Case& c : {Case{"a folder under a new file's name", true, "folder"},
                         Case{"a file no build made under a new file's name", false, "file"}}) {
        SCOPED_TRACE(c.name);
        FaultyFileSystem fileSystem;
        auto staging = stage(fileSystem);
        if (c.folder) {
            std::filesystem::create_directory(out() / "c.wav");
            writeFile(out() / "c.wav" / "essay.txt", std::string_view("precious"));
        } else {
            writeFile(out() / "c.wav", std::string_view("the user's sample"));
        }
        const int made = fileSystem.changes;
        const auto committed = staging.commit(kOrder, kOurs, {"b.wav"});
        ASSERT_FALSE(committed.ok());
        EXPECT_EQ(committed.error().code, ErrorCode::WouldReplaceChart);
        EXPECT_EQ(committed.error().subject, c.subject);
        EXPECT_EQ(committed.error().path, (out() / "c.wav").string());
        EXPECT_EQ(fileSystem.changes, made) << "refused before the journal and any move";
        auto expected = kBefore;
        if (!c.folder) {
            expected["c.wav"] = "the user's sample";
            EXPECT_EQ(files(), expected);
        } else {
            EXPECT_EQ(readText(out() / "c.wav" / "essay.txt"), "precious");
        }
    }
}

TEST_F(Staging, UnwritableFoldersAreWriteFailedNamingThemAndLeaveTheFolderAsItWas)
{
    FaultyFileSystem fileSystem;
    std::filesystem::create_directory(out());
    fileSystem.failAt = out() / StagingFolder::kName;
    const auto refused = StagingFolder::create(out(), fileSystem);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::WriteFailed);
    EXPECT_EQ(refused.error().message,
              (out() / StagingFolder::kName).string() + ": cannot create the folder: Permission denied");

    // The journal cannot be written: nothing has moved.
    FaultyFileSystem journalFails;
    auto staging = stage(journalFails);
    journalFails.failAt = staging.path() / "commit-journal";
    const auto committed = staging.commit(kOrder, kOurs, {"b.wav"});
    ASSERT_FALSE(committed.ok());
    EXPECT_EQ(committed.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(committed.error().message.find("earlier files are untouched"), std::string::npos)
        << committed.error().message;
    EXPECT_EQ(files(), kBefore);
}

TEST_F(Staging, EarlierFilesInAStagingFolderWithoutAJournalGoBackWhereTheirNameIsFree)
{
    std::filesystem::create_directories(out() / StagingFolder::kName / "replaced");
    writeFile(out() / StagingFolder::kName / "replaced" / "a.wav", std::string_view("set aside"));
    {
        const auto recovered = StagingFolder::create(out());
        ASSERT_TRUE(recovered.ok()) << recovered.error().message;
        EXPECT_EQ(readText(out() / "a.wav"), "set aside");
    }

    std::filesystem::create_directories(out() / StagingFolder::kName / "replaced");
    writeFile(out() / StagingFolder::kName / "replaced" / "a.wav", std::string_view("another"));
    const auto refused = StagingFolder::create(out());
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(refused.error().message.find("replaced/a.wav"), std::string::npos) << refused.error().message;
    EXPECT_EQ(readText(out() / StagingFolder::kName / "replaced" / "a.wav"), "another") << "kept, not removed";
}

}  // namespace
}  // namespace zentrowe::testing
