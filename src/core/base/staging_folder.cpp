#include "core/base/staging_folder.h"

#include <cerrno>
#include <charconv>
#include <optional>
#include <string_view>
#include <utility>

#include "core/base/file_error.h"

namespace zentrowe::base {

namespace {

constexpr const char* kReplacedFolderName = "replaced";
constexpr const char* kJournalName = "commit-journal";
constexpr std::string_view kJournalHeader = "zentrowe commit journal 1\n";

constexpr const char* kUntouched = "; the folder's earlier files are untouched";
constexpr const char* kPutBack = "; the folder's earlier files are back in place";

// A file the commit moves in, with the identity it had in the staging folder: after a crash the
// file of that identity is the new one, wherever it is.
struct Move {
    std::string name;
    FileId id;
};

// What a commit does, on the disk before its first move. Entries end with a NUL byte, which no
// file name holds: "move DEVICE INODE NAME" in commit order, then "remove NAME".
struct Journal {
    std::vector<Move> moves;
    std::vector<std::string> removals;
};

std::string journalText(const Journal& journal)
{
    std::string text(kJournalHeader);
    for (const auto& move : journal.moves) {
        text += "move " + std::to_string(move.id.device) + " " + std::to_string(move.id.inode) + " " + move.name;
        text += '\0';
    }
    for (const auto& name : journal.removals) {
        text += "remove " + name;
        text += '\0';
    }
    return text;
}

std::optional<std::uint64_t> takeNumber(std::string_view& entry)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(entry.data(), entry.data() + entry.size(), value);
    if (error != std::errc() || end == entry.data() + entry.size() || *end != ' ') {
        return std::nullopt;
    }
    entry.remove_prefix(static_cast<std::size_t>(end - entry.data()) + 1);
    return value;
}

// None if the text is not a whole journal (it is written whole or not at all, so this is damage).
std::optional<Journal> readJournal(std::string_view text)
{
    if (!text.starts_with(kJournalHeader)) {
        return std::nullopt;
    }
    text.remove_prefix(kJournalHeader.size());
    Journal journal;
    while (!text.empty()) {
        const auto end = text.find('\0');
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view entry = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (entry.starts_with("move ")) {
            entry.remove_prefix(5);
            const auto device = takeNumber(entry);
            const auto inode = device ? takeNumber(entry) : std::nullopt;
            if (!inode || entry.empty()) {
                return std::nullopt;
            }
            journal.moves.push_back({std::string(entry), {*device, *inode}});
        } else if (entry.starts_with("remove ") && entry.size() > 7) {
            journal.removals.emplace_back(entry.substr(7));
        } else {
            return std::nullopt;
        }
    }
    if (journal.moves.empty()) {
        return std::nullopt;
    }
    return journal;
}

// The three places a moved file and the one it replaces can be.
struct Places {
    std::filesystem::path target;  // in the output folder
    std::filesystem::path staged;  // the new file before its move
    std::filesystem::path aside;   // the replaced file until the commit is done
};

Places placesOf(const std::filesystem::path& outputFolder, const std::filesystem::path& staging,
                const std::string& name)
{
    return {outputFolder / name, staging / name, staging / kReplacedFolderName / name};
}

bool holds(const FileSystem& fileSystem, const std::filesystem::path& path, const FileId& id)
{
    const auto status = fileSystem.status(path);
    return status.kind == FileKind::File && status.id == id;
}

// Puts one move back: the new file (known by its identity) leaves the output folder and the
// earlier file, wherever the commit had got to with it, returns. Doing it twice does no harm, so
// an undo cut short is finished by the next one.
std::error_code undoMove(FileSystem& fileSystem, const Places& places, const FileId& id)
{
    if (holds(fileSystem, places.target, id)) {
        if (auto error = fileSystem.remove(places.target)) {
            return error;
        }
    }
    if (fileSystem.status(places.target).kind != FileKind::None) {
        return {};
    }
    if (fileSystem.status(places.aside).kind != FileKind::None) {
        return fileSystem.rename(places.aside, places.target);
    }
    // Swapped in, and the earlier file not yet set aside: it is where the new one was.
    const auto staged = fileSystem.status(places.staged);
    if (staged.kind == FileKind::File && !(staged.id == id)) {
        return fileSystem.rename(places.staged, places.target);
    }
    return {};
}

// Moves one file in. A file it replaces is swapped out in one step where the file system can
// (the name never stands empty, so a chart read meanwhile finds every file it names), then set aside.
std::error_code moveIn(FileSystem& fileSystem, const Places& places)
{
    const auto existing = fileSystem.status(places.target);
    if (existing.kind == FileKind::Folder) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    if (existing.kind == FileKind::None) {
        return fileSystem.rename(places.staged, places.target);
    }
    auto error = fileSystem.exchange(places.staged, places.target);
    if (!error) {
        return fileSystem.rename(places.staged, places.aside);
    }
    if (error != std::errc::invalid_argument && error != std::errc::operation_not_supported &&
        error != std::errc::function_not_supported) {
        return error;
    }
    if ((error = fileSystem.rename(places.target, places.aside))) {
        return error;
    }
    return fileSystem.rename(places.staged, places.target);
}

// Ends a commit whose every file is in: removes what it was to remove, then the earlier files,
// then the journal. The paths removed.
Result<std::vector<std::filesystem::path>> finish(FileSystem& fileSystem, const std::filesystem::path& outputFolder,
                                                  const std::filesystem::path& staging, const Journal& journal)
{
    std::vector<std::filesystem::path> removed;
    for (const auto& name : journal.removals) {
        const auto path = outputFolder / name;
        if (fileSystem.status(path).kind == FileKind::File && !fileSystem.remove(path)) {
            removed.push_back(path);
        }
    }
    const auto replaced = staging / kReplacedFolderName;
    if (auto error = fileSystem.removeAll(replaced)) {
        return fileError(ErrorCode::WriteFailed, replaced, "remove the folder", error.value());
    }
    if (auto error = fileSystem.remove(staging / kJournalName)) {
        return fileError(ErrorCode::WriteFailed, staging / kJournalName, "remove", error.value());
    }
    return removed;
}

// Takes the moves back, last first. The first move that cannot be undone, if any.
std::optional<std::pair<std::filesystem::path, std::error_code>> undo(FileSystem& fileSystem,
                                                                      const std::filesystem::path& outputFolder,
                                                                      const std::filesystem::path& staging,
                                                                      const std::vector<Move>& moves)
{
    std::optional<std::pair<std::filesystem::path, std::error_code>> failed;
    for (auto move = moves.rbegin(); move != moves.rend(); ++move) {
        const auto places = placesOf(outputFolder, staging, move->name);
        if (auto error = undoMove(fileSystem, places, move->id); error && !failed) {
            failed.emplace(places.target, error);
        }
    }
    return failed;
}

std::string keptSentence(const std::filesystem::path& staging)
{
    return "; some of the folder's earlier files could not be put back: they wait in " + displayPath(staging) +
           ", and the next build into the folder puts them back";
}

// Finishes or undoes the commit a killed pass left in `staging`: done if its last file (the
// chart) is in place, undone if not. Without a journal no commit had begun, so nothing of the
// output folder is in the staging folder; should some earlier file be there all the same, it
// goes back under its name if that is free, and the staging folder is kept if not.
Result<Recovery> recover(FileSystem& fileSystem, const std::filesystem::path& outputFolder,
                         const std::filesystem::path& staging)
{
    const auto journalPath = staging / kJournalName;
    if (fileSystem.status(journalPath).kind == FileKind::None) {
        const auto replaced = staging / kReplacedFolderName;
        for (const auto& name : fileSystem.list(replaced)) {
            const auto target = outputFolder / name;
            if (fileSystem.status(target).kind != FileKind::None || fileSystem.rename(replaced / name, target)) {
                return fileError(ErrorCode::WriteFailed, replaced / name, "put back",
                                 "the folder has a file of that name; move one of them by hand");
            }
        }
        return Recovery::None;
    }
    const auto text = fileSystem.readText(journalPath);
    const auto journal = text ? readJournal(*text) : std::nullopt;
    if (!journal) {
        return fileError(ErrorCode::WriteFailed, journalPath, "read",
                         "it is damaged; the earlier files of an unfinished build are in " +
                             displayPath(staging / kReplacedFolderName));
    }
    const auto& last = journal->moves.back();
    if (holds(fileSystem, outputFolder / last.name, last.id)) {
        auto finished = finish(fileSystem, outputFolder, staging, *journal);
        if (!finished) {
            return finished.error();
        }
        return Recovery::Completed;
    }
    if (const auto failed = undo(fileSystem, outputFolder, staging, journal->moves)) {
        auto error = fileError(ErrorCode::WriteFailed, failed->first, "put back", failed->second.value());
        error.message += keptSentence(staging);
        return error;
    }
    if (auto error = fileSystem.remove(journalPath)) {
        return fileError(ErrorCode::WriteFailed, journalPath, "remove", error.value());
    }
    return Recovery::Undone;
}

}  // namespace

StagingFolder::StagingFolder(std::filesystem::path outputFolder, std::filesystem::path path, FileSystem& fileSystem)
    : m_outputFolder(std::move(outputFolder)), m_path(std::move(path)), m_fileSystem(&fileSystem)
{
}

StagingFolder::StagingFolder(StagingFolder&& other) noexcept
    : m_outputFolder(std::move(other.m_outputFolder)),
      m_path(std::exchange(other.m_path, {})),
      m_fileSystem(other.m_fileSystem),
      m_recovery(other.m_recovery),
      m_keep(other.m_keep)
{
}

StagingFolder::~StagingFolder()
{
    if (!m_path.empty() && !m_keep) {
        m_fileSystem->removeAll(m_path);
    }
}

Result<StagingFolder> StagingFolder::create(const std::filesystem::path& outputFolder, FileSystem& fileSystem)
{
    const auto path = outputFolder / kName;
    auto recovery = Recovery::None;
    const auto left = fileSystem.status(path).kind;
    if (left == FileKind::Folder) {
        auto recovered = recover(fileSystem, outputFolder, path);
        if (!recovered) {
            return recovered.error();
        }
        recovery = *recovered;
    }
    if (left != FileKind::None) {
        if (auto error = fileSystem.removeAll(path)) {
            return fileError(ErrorCode::WriteFailed, path, "remove the folder", error.value());
        }
    }
    auto error = fileSystem.createFolder(path);
    if (!error) {
        error = fileSystem.createFolder(path / kReplacedFolderName);
    }
    if (error) {
        fileSystem.removeAll(path);
        return fileError(ErrorCode::WriteFailed, path, "create the folder", error.value());
    }
    StagingFolder staging(outputFolder, path, fileSystem);
    staging.m_recovery = recovery;
    return staging;
}

Result<std::vector<std::filesystem::path>> StagingFolder::commit(const std::vector<std::string>& names,
                                                                 const std::set<std::string>& replaceable,
                                                                 const std::vector<std::string>& removeAfter)
{
    auto& fileSystem = *m_fileSystem;
    Journal journal;
    journal.removals = removeAfter;
    for (const auto& name : names) {
        const auto target = m_outputFolder / name;
        const auto existing = fileSystem.status(target);
        if (existing.kind == FileKind::Folder) {
            return Error{ErrorCode::WouldReplaceChart, displayPath(target) +
                                                           " is a folder, where the build would put a file: a "
                                                           "build never replaces a folder; nothing was written"}
                .inFile(displayPath(target))
                .about("folder");
        }
        if (existing.kind == FileKind::File && replaceable.count(name) == 0) {
            return Error{ErrorCode::WouldReplaceChart,
                         displayPath(target) + " was not made by a build and would be replaced; nothing was written"}
                .inFile(displayPath(target))
                .about("file");
        }
        const auto staged = fileSystem.status(m_path / name);
        if (staged.kind != FileKind::File) {
            auto error = fileError(ErrorCode::WriteFailed, m_path / name, "move into place", ENOENT);
            error.message += kUntouched;
            return error;
        }
        journal.moves.push_back({name, staged.id});
    }
    if (journal.moves.empty()) {
        return std::vector<std::filesystem::path>{};
    }
    // Once the journal is on the disk, a crash ends in these files being moved in; their bytes
    // must be there before it is, or a file could come in empty.
    if (auto error = fileSystem.syncFiles(m_path, names)) {
        auto failure = fileError(ErrorCode::WriteFailed, m_path, "write", error.value());
        failure.message += kUntouched;
        return failure;
    }
    const auto journalPath = m_path / kJournalName;
    if (auto error = fileSystem.writeDurably(journalPath, journalText(journal))) {
        auto failure = fileError(ErrorCode::WriteFailed, journalPath, "write", error.value());
        failure.message += kUntouched;
        return failure;
    }
    for (std::size_t k = 0; k < journal.moves.size(); ++k) {
        const auto places = placesOf(m_outputFolder, m_path, journal.moves[k].name);
        auto error = moveIn(fileSystem, places);
        if (!error) {
            continue;
        }
        auto failure = fileError(ErrorCode::WriteFailed, places.target, "move into place", error.value());
        const std::vector<Move> begun(journal.moves.begin(),
                                      journal.moves.begin() + static_cast<std::ptrdiff_t>(k) + 1);
        if (undo(fileSystem, m_outputFolder, m_path, begun)) {
            m_keep = true;  // the next create() finishes the undo from the journal
            failure.message += keptSentence(m_path);
            return failure;
        }
        // Should the journal stay, the next create() undoes again, which finds nothing to do.
        m_keep = static_cast<bool>(fileSystem.remove(journalPath));
        failure.message += kPutBack;
        return failure;
    }
    auto removed = finish(fileSystem, m_outputFolder, m_path, journal);
    if (!removed) {
        m_keep = true;  // every file is in; the next create() finishes from the journal
        return std::vector<std::filesystem::path>{};
    }
    return removed;
}

}  // namespace zentrowe::base
