#include "core/base/staging_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <map>
#include <optional>
#include <set>

#include "support/faulty_file_system.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

using base::JournalFault;
using base::Recovery;
using base::StagingFolder;

using Files = std::map<std::string, std::string>;
using namespace std::string_literals;

// Whether this system's file system swaps two names in one step (Linux's renameat2 does).
bool systemSwapsNames()
{
    TempDir dir;
    writeFile(dir / "first", std::string_view("1"));
    writeFile(dir / "second", std::string_view("2"));
    return !realFileSystem().exchange(dir / "first", dir / "second");
}

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

    // Everything below the test's folder but the staging folders, links and special files as
    // themselves: what a recovery must leave as it was, inside the output folder and out of it.
    Files everything() const
    {
        Files found;
        const auto setAside = std::string(StagingFolder::kName) + ".set-aside";
        for (auto it = std::filesystem::recursive_directory_iterator(m_dir.path());
             it != std::filesystem::recursive_directory_iterator(); ++it) {
            const auto relative = it->path().lexically_relative(m_dir.path()).string();
            const auto name = it->path().filename().string();
            if (name == StagingFolder::kName || name.starts_with(setAside)) {
                it.disable_recursion_pending();
            } else if (it->is_symlink()) {
                found[relative] = "link to " + std::filesystem::read_symlink(it->path()).string();
            } else if (it->is_regular_file()) {
                found[relative] = readText(it->path());
            } else if (!it->is_directory()) {
                found[relative] = "special";
            }
        }
        return found;
    }

    // What the folder lacks for a player: its chart, or a file the chart names (the earlier
    // chart names the earlier files, the new one the new files).
    std::set<std::string> missing() const
    {
        static const std::map<std::string, std::vector<std::string>> kNamed = {{"old chart", {"a.wav", "b.wav"}},
                                                                               {"new chart", {"a.wav", "c.wav"}}};
        const Files now = files();
        if (now.count("song_N.bms") == 0) {
            return {"song_N.bms"};
        }
        std::set<std::string> lacking;
        for (const auto& name : kNamed.at(now.at("song_N.bms"))) {
            if (now.count(name) == 0) {
                lacking.insert(name);
            }
        }
        return lacking;
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
            auto next = StagingFolder::create(out(), realFileSystem());
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

TEST_F(Staging, ARecoveryKilledAtAnyStepLeavesTheChartAndEveryFileItNames)
{
    // The commit killed after each of its changes, then the build recovering it killed after
    // each of its own: each step of an undo or a finish is one rename over a name, so the
    // recovery never leaves the folder lacking a file its chart names, and a third build ends the
    // commit one way or the other. (Without exchange the commit itself leaves a name empty for a
    // moment, between setting the earlier file aside and moving the new one in; the recovery
    // only ever fills such a gap.)
    // NTFS swaps no names in one step: there the commit always moves the earlier file aside
    // first, as it does here without exchange, and a name may stand empty after a kill.
    const bool namesSwap = systemSwapsNames();
    for (const bool exchange : {true, false}) {
        bool commitEnded = false;
        for (int commitStop = 0; !commitEnded; ++commitStop) {
            ASSERT_LT(commitStop, 30);
            bool recoveryEnded = false;
            for (int recoveryStop = 0; !recoveryEnded; ++recoveryStop) {
                ASSERT_LT(recoveryStop, 30);
                SCOPED_TRACE(std::string(exchange ? "exchange" : "no exchange") + ", commit killed after change " +
                             std::to_string(commitStop) + ", recovery after change " + std::to_string(recoveryStop));
                FaultyFileSystem committing;
                committing.noExchange = !exchange;
                {
                    auto staging = stage(committing);
                    committing.stopAfter = committing.changes + commitStop;
                    (void)staging.commit(kOrder, kOurs, {"b.wav"});
                    commitEnded = committing.changes < committing.stopAfter;
                }
                const auto lackingBefore = missing();
                if (exchange && namesSwap) {
                    EXPECT_TRUE(lackingBefore.empty()) << *lackingBefore.begin() << " is missing";
                }
                FaultyFileSystem recovering;
                recovering.stopAfter = recoveryStop;
                (void)StagingFolder::create(out(), recovering);
                recoveryEnded = recovering.changes < recovering.stopAfter;
                for (const auto& name : missing()) {
                    EXPECT_EQ(lackingBefore.count(name), 1u) << "the recovery left " << name << " missing";
                }
                auto next = StagingFolder::create(out(), realFileSystem());
                ASSERT_TRUE(next.ok()) << next.error().message;
                const Files now = files();
                EXPECT_TRUE(now == kBefore || now == kAfter);
            }
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
        auto next = StagingFolder::create(out(), realFileSystem());
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
        const auto recovered = StagingFolder::create(out(), realFileSystem());
        ASSERT_TRUE(recovered.ok()) << recovered.error().message;
        EXPECT_EQ(readText(out() / "a.wav"), "set aside");
    }

    std::filesystem::create_directories(out() / StagingFolder::kName / "replaced");
    writeFile(out() / StagingFolder::kName / "replaced" / "a.wav", std::string_view("another"));
    const auto refused = StagingFolder::create(out(), realFileSystem());
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::WriteFailed);
    // The path as the system writes it (Windows separates with a backslash).
    const auto named = (std::filesystem::path("replaced") / "a.wav").string();
    EXPECT_NE(refused.error().message.find(named), std::string::npos) << refused.error().message;
    EXPECT_EQ(readText(out() / StagingFolder::kName / "replaced" / "a.wav"), "another") << "kept, not removed";
}

#if !defined(_WIN32)  // FIFOs and POSIX links, which NTFS does not make
// A staging folder planted in a folder from anywhere: its journal is set aside, whole, and not
// obeyed, whatever it names; nothing outside the output folder is touched, and nothing but a
// regular file is ever moved in.
TEST_F(Staging, AJournalOrReplacedFolderNoCommitLeavesIsSetAsideNotObeyed)
{
    const auto staging = [this] { return out() / StagingFolder::kName; };
    const auto journal = [&] { return staging() / "commit-journal"; };
    const auto replaced = [&] { return staging() / "replaced"; };
    const auto header = "zentrowe commit journal 1\n"s;
    const auto writeJournal = [&](const std::string& entries) { writeFile(journal(), header + entries); };
    const auto idOf = [](const std::filesystem::path& path) {
        struct stat info { };
        EXPECT_EQ(::lstat(path.c_str(), &info), 0);
        return std::to_string(info.st_dev) + " " + std::to_string(info.st_ino);
    };
    struct Case {
        const char* name;
        std::function<void()> plant;
        JournalFault fault;
        bool atReplaced;  // the fault is the "replaced" folder's, not the journal's
    };
    const std::vector<Case> cases = {
        {"removals out of the folder after a move in place",
         [&] {
             writeJournal("move " + idOf(out() / "song_N.bms") +
                          " song_N.bms\0remove ../victims/precious.txt\0remove "s +
                          (m_dir.path() / "victims" / "abs.txt").string() + '\0');
         },
         JournalFault::NameOutside, false},
        {"an undo that puts a file above the folder",
         [&] {
             writeFile(staging() / "planted.txt", std::string_view("planted"));
             writeJournal("move 1 1 ../planted.txt\0move 1 1 song_N.bms\0"s);
         },
         JournalFault::NameOutside, false},
        {"a removal of the staging folder", [&] { writeJournal("move 1 1 song_N.bms\0remove .zentrowe-staging\0"s); },
         JournalFault::NameOutside, false},
        {"an undo through a link of the folder",
         [&] {
             std::filesystem::create_directory_symlink(m_dir.path() / "victims" / "autostart", out() / "L");
             std::filesystem::create_directories(replaced() / "L");
             writeFile(replaced() / "L" / "evil.desktop", std::string_view("payload"));
             writeJournal("move 1 1 L/evil.desktop\0move 1 1 song_N.bms\0"s);
         },
         JournalFault::OddReplacedFolder, true},
        {"replaced a link to the user's folder",
         [&] {
             std::filesystem::remove(replaced());
             std::filesystem::create_directory_symlink(m_dir.path() / "victims" / "documents", replaced());
         },
         JournalFault::OddReplacedFolder, true},
        {"a FIFO in replaced", [&] { ASSERT_EQ(::mkfifo((replaced() / "fifo").c_str(), 0600), 0); },
         JournalFault::OddReplacedFolder, true},
        {"a link in replaced, with a journal that undoes",
         [&] {
             std::filesystem::create_symlink(m_dir.path() / "victims" / "precious.txt", replaced() / "a.wav");
             writeJournal("move 1 1 a.wav\0move 1 1 song_N.bms\0"s);
         },
         JournalFault::OddReplacedFolder, true},
        {"the journal a FIFO", [&] { ASSERT_EQ(::mkfifo(journal().c_str(), 0600), 0); }, JournalFault::NotRegularFile,
         false},
        {"the journal a link to /dev/zero", [&] { std::filesystem::create_symlink("/dev/zero", journal()); },
         JournalFault::NotRegularFile, false},
        {"the journal a link to a journal",
         [&] {
             writeFile(m_dir.path() / "victims" / "journal", header + "move 1 1 song_N.bms\0"s);
             std::filesystem::create_symlink(m_dir.path() / "victims" / "journal", journal());
         },
         JournalFault::NotRegularFile, false},
        {"the journal a folder", [&] { std::filesystem::create_directory(journal()); }, JournalFault::NotRegularFile,
         false},
        {"the journal larger than any build writes",
         [&] {
             writeJournal("move 1 1 song_N.bms\0"s);
             std::filesystem::resize_file(journal(), base::kCommitJournalLimit + 1);
         },
         JournalFault::TooLarge, false},
        {"the journal damaged", [&] { writeFile(journal(), std::string_view("zentrowe commit journal 1\nmove 1")); },
         JournalFault::Damaged, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir.path());
        std::filesystem::create_directories(out());
        for (const auto& [name, text] : kBefore) {
            writeFile(out() / name, text);
        }
        std::filesystem::create_directories(m_dir.path() / "victims" / "autostart");
        std::filesystem::create_directories(m_dir.path() / "victims" / "documents");
        writeFile(m_dir.path() / "victims" / "precious.txt", std::string_view("precious"));
        writeFile(m_dir.path() / "victims" / "abs.txt", std::string_view("precious too"));
        writeFile(m_dir.path() / "victims" / "documents" / "doc1.txt", std::string_view("doc 1"));
        std::filesystem::create_directories(replaced());
        c.plant();
        const Files before = everything();

        FaultyFileSystem fileSystem;
        const auto next = StagingFolder::create(out(), fileSystem);
        ASSERT_TRUE(next.ok()) << next.error().message;
        EXPECT_EQ(next->recovery(), Recovery::SetAside);
        ASSERT_TRUE(next->setAside().has_value());
        const auto& setAside = *next->setAside();
        EXPECT_EQ(setAside.fault, c.fault);
        EXPECT_EQ(setAside.found, c.atReplaced ? replaced() : journal());
        EXPECT_EQ(setAside.movedTo, out() / ".zentrowe-staging.set-aside");
        EXPECT_TRUE(std::filesystem::exists(
            std::filesystem::symlink_status(setAside.movedTo / (c.atReplaced ? "replaced" : "commit-journal"))))
            << "kept whole";
        EXPECT_EQ(everything(), before);
        for (const auto& path : fileSystem.touched) {
            const auto relative = path.lexically_normal().lexically_relative(out());
            EXPECT_FALSE(relative.empty() || *relative.begin() == "..") << path << " is outside the output folder";
        }
        EXPECT_TRUE(std::filesystem::is_empty(next->path() / "replaced"));
    }

    // Planted again: set aside beside the first, which is kept.
    std::filesystem::create_directories(replaced());
    writeFile(journal(), std::string_view("not a journal"));
    const auto again = StagingFolder::create(out(), realFileSystem());
    ASSERT_TRUE(again.ok()) << again.error().message;
    EXPECT_EQ(again->setAside()->movedTo, out() / ".zentrowe-staging.set-aside-2");
    EXPECT_TRUE(std::filesystem::exists(out() / ".zentrowe-staging.set-aside"));
}

#endif

}  // namespace
}  // namespace zentrowe::testing
