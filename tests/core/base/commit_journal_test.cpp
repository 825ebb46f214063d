#include "core/base/commit_journal.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace zentrowe::testing {
namespace {

using base::CommitJournal;
using base::JournalFault;

using namespace std::string_literals;

const std::string kHeader = "zentrowe commit journal 1\n";

TEST(CommitJournal, AJournalReadsBackAsWritten)
{
    const CommitJournal journal{{{"a.wav", {2049, 131}}, {"song_N.bms", {2049, 17}}}, {"old.wav", "song_H.bms"}};
    const std::string text = base::commitJournalText(journal);
    EXPECT_EQ(text, kHeader + "move 2049 131 a.wav\0move 2049 17 song_N.bms\0remove old.wav\0remove song_H.bms\0"s);
    const auto read = base::parseCommitJournal(text);
    ASSERT_TRUE(std::holds_alternative<CommitJournal>(read));
    const auto& again = std::get<CommitJournal>(read);
    ASSERT_EQ(again.moves.size(), 2u);
    EXPECT_EQ(again.moves[1].name, "song_N.bms");
    EXPECT_EQ(again.moves[1].id, (FileId{2049, 17}));
    EXPECT_EQ(again.removals, journal.removals);
}

TEST(CommitJournal, NamesThatLeaveTheFolderAndDamageAreToldApart)
{
    struct Case {
        const char* name;
        std::string text;
        JournalFault fault;
    };
    const std::vector<Case> cases = {
        {"a removal up and out", kHeader + "move 1 2 song_N.bms\0remove ../victims/precious.txt\0"s,
         JournalFault::NameOutside},
        {"an absolute removal", kHeader + "move 1 2 song_N.bms\0remove /home/user/abs.txt\0"s,
         JournalFault::NameOutside},
        {"a move two levels up", kHeader + "move 1 1 ../../planted.txt\0move 1 1 song_N.bms\0"s,
         JournalFault::NameOutside},
        {"a move through a folder of the folder", kHeader + "move 1 1 L/evil.desktop\0move 1 1 song_N.bms\0"s,
         JournalFault::NameOutside},
        {"a Windows separator", kHeader + "move 1 1 ..\\evil.txt\0"s, JournalFault::NameOutside},
        {"the parent", kHeader + "move 1 1 song_N.bms\0remove ..\0"s, JournalFault::NameOutside},
        {"the folder itself", kHeader + "move 1 1 .\0"s, JournalFault::NameOutside},
        {"an empty name", kHeader + "move 1 1 \0"s, JournalFault::NameOutside},
        {"an empty removal", kHeader + "move 1 1 a.wav\0remove \0"s, JournalFault::NameOutside},
        {"no header", "zentrowe commit journal 2\nmove 1 1 a.wav\0"s, JournalFault::Damaged},
        {"cut short", kHeader + "move 1 1 a.wav\0move 1 1 b.w"s, JournalFault::Damaged},
        {"no move", kHeader + "remove a.wav\0"s, JournalFault::Damaged},
        {"nothing", kHeader, JournalFault::Damaged},
        {"a move after a removal", kHeader + "move 1 1 a.wav\0remove b.wav\0move 1 1 c.wav\0"s, JournalFault::Damaged},
        {"no inode", kHeader + "move 1 a.wav\0"s, JournalFault::Damaged},
        {"a negative device", kHeader + "move -1 1 a.wav\0"s, JournalFault::Damaged},
        {"a device past 64 bits", kHeader + "move 18446744073709551616 1 a.wav\0"s, JournalFault::Damaged},
        {"an unknown entry", kHeader + "move 1 1 a.wav\0rename a.wav\0"s, JournalFault::Damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = base::parseCommitJournal(c.text);
        ASSERT_TRUE(std::holds_alternative<JournalFault>(read));
        EXPECT_EQ(std::get<JournalFault>(read), c.fault);
    }
}

TEST(CommitJournal, APlainNameIsOneEntryOfTheFolder)
{
    for (const char* name : {"a.wav", ".hidden", "...", "a b.bms", "\xE6\x9B\xB2.ogg", "-dash"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(base::isPlainFileName(name));
    }
    for (const std::string& name : {""s, "."s, ".."s, "a/b"s, "/abs"s, "a\\b"s, "a\0b"s, "../x"s}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(base::isPlainFileName(name));
    }
}

}  // namespace
}  // namespace zentrowe::testing
