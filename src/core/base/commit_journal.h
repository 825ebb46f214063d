#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/base/file_system.h"

namespace zentrowe::base {

// A file a commit moves in, with the identity it had in the staging folder: after a crash the
// file of that identity is the new one, wherever it is.
struct JournalMove {
    std::string name;
    FileId id;
};

// What a commit does, on the disk before its first move: the files it moves in, in commit order,
// then the folder's files it removes once they are all in. Every name is a plain file name in the
// output folder.
struct CommitJournal {
    std::vector<JournalMove> moves;
    std::vector<std::string> removals;
};

// Why what a killed commit left in a staging folder is not obeyed.
enum class JournalFault {
    NotRegularFile,     // the journal is a link, FIFO, device, socket or folder: never read
    TooLarge,           // the journal is over kCommitJournalLimit bytes
    Unreadable,         // the system refused to read the journal
    Damaged,            // not the text a commit writes (a journal is written whole or not at all)
    NameOutside,        // an entry names no plain file of the folder ("../x", "/x", "a/b", "")
    OddReplacedFolder,  // "replaced" is not a folder of regular files (a link, or holds a FIFO)
};

// A journal lists every file of one build and what it removes: some thousands of names, each
// under 256 bytes. Anything larger is not one a build wrote, and is not read into memory.
inline constexpr std::size_t kCommitJournalLimit = std::size_t{16} << 20;

// A plain file name of a folder: not empty, not "." or "..", without '/', '\\' or NUL, so that
// FOLDER / name never leaves the folder (a backslash is a separator where the folder travels to).
bool isPlainFileName(std::string_view name);

// The journal's text. Entries end with a NUL byte, which no file name holds: "move DEVICE INODE
// NAME" in commit order, then "remove NAME", after a first line naming the format.
std::string commitJournalText(const CommitJournal& journal);

// The journal in `text`, or why it is not one a commit writes: Damaged if its text is not whole
// or holds no move, NameOutside if it is whole but some name is not plain.
std::variant<CommitJournal, JournalFault> parseCommitJournal(std::string_view text);

}  // namespace zentrowe::base
