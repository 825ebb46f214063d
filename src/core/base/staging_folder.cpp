#include "core/base/staging_folder.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>
#include <utility>

#include "core/base/file_error.h"
#include "core/base/utf8_path.h"

namespace zentrowe::base {

namespace {

constexpr const char* kReplacedFolderName = "replaced";
constexpr const char* kJournalName = "commit-journal";

constexpr const char* kUntouched = "; the folder's earlier files are untouched";
constexpr const char* kPutBack = "; the folder's earlier files are back in place";

// The three places a moved file and the one it replaces can be.
struct Places {
    std::filesystem::path target;  // in the output folder
    std::filesystem::path staged;  // the new file before its move
    std::filesystem::path aside;   // the replaced file until the commit is done
};

Places placesOf(const std::filesystem::path& outputFolder, const std::filesystem::path& staging,
                const std::string& name)
{
    return {outputFolder / utf8Path(name), staging / utf8Path(name), staging / kReplacedFolderName / utf8Path(name)};
}

bool holds(const FileSystem& fileSystem, const std::filesystem::path& path, const FileId& id)
{
    const auto status = fileSystem.status(path);
    return status.kind == FileKind::File && status.id == id;
}

// Puts one move back: the new file (known by its identity) leaves the output folder and the
// earlier file, wherever the commit had got to with it, returns. Each step is one rename over the
// name, never a removal first: a chart read meanwhile, or left by a kill here, finds every file
// it names. Doing it twice does no harm, so an undo cut short is finished by the next one.
std::error_code undoMove(FileSystem& fileSystem, const Places& places, const FileId& id)
{
    const auto target = fileSystem.status(places.target);
    const bool isNew = target.kind == FileKind::File && target.id == id;
    const auto aside = fileSystem.status(places.aside);
    if (aside.kind != FileKind::None) {
        if (target.kind != FileKind::None && !isNew) {
            return std::make_error_code(std::errc::file_exists);  // not ours to replace: kept aside
        }
        if (!aside.regular) {
            return std::make_error_code(std::errc::invalid_argument);  // a link or FIFO is never moved in
        }
        return fileSystem.rename(places.aside, places.target);
    }
    if (!isNew) {
        return {};  // never moved in, or already put back
    }
    // Swapped in, and the earlier file not yet set aside: it is where the new one was.
    const auto staged = fileSystem.status(places.staged);
    if (staged.kind == FileKind::File && !(staged.id == id)) {
        return fileSystem.rename(places.staged, places.target);
    }
    return fileSystem.remove(places.target);  // a name the folder did not have before
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
                                                  const std::filesystem::path& staging, const CommitJournal& journal)
{
    std::vector<std::filesystem::path> removed;
    for (const auto& name : journal.removals) {
        const auto path = outputFolder / utf8Path(name);
        if (fileSystem.status(path).regular && !fileSystem.remove(path)) {
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
                                                                      const std::vector<JournalMove>& moves)
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

// Checks every name before anything moves and lists the moves: a folder, or a file no build
// made, under a name refuses the commit, as does a name the staging folder lacks.
Result<CommitJournal> journalFor(const FileSystem& fileSystem, const std::filesystem::path& outputFolder,
                                 const std::filesystem::path& staging, const std::vector<std::string>& names,
                                 const std::set<std::string>& replaceable)
{
    CommitJournal journal;
    for (const auto& name : names) {
        const auto target = outputFolder / utf8Path(name);
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
        const auto staged = fileSystem.status(staging / utf8Path(name));
        if (staged.kind != FileKind::File) {
            auto error = fileError(ErrorCode::WriteFailed, staging / utf8Path(name), "move into place", ENOENT);
            error.message += kUntouched;
            return error;
        }
        journal.moves.push_back({name, staged.id});
    }
    return journal;
}

// Puts the journal on the disk. Once it is there, a crash ends in its files being moved in, so
// their bytes must be there before it is, or a file could come in empty.
std::optional<Error> writeJournal(FileSystem& fileSystem, const std::filesystem::path& staging,
                                  const std::vector<std::string>& names, const CommitJournal& journal)
{
    if (auto error = fileSystem.syncFiles(staging, names)) {
        auto failure = fileError(ErrorCode::WriteFailed, staging, "write", error.value());
        failure.message += kUntouched;
        return failure;
    }
    const auto journalPath = staging / kJournalName;
    if (auto error = fileSystem.writeDurably(journalPath, commitJournalText(journal))) {
        auto failure = fileError(ErrorCode::WriteFailed, journalPath, "write", error.value());
        failure.message += kUntouched;
        return failure;
    }
    return std::nullopt;
}

// A move that failed: why, and whether the staging folder must stay for the next create() to
// finish putting the earlier files back.
struct MoveFailure {
    Error error;
    bool keep;
};

// Moves the journal's files in, in order; on a failure takes the ones moved back out.
std::optional<MoveFailure> moveAllIn(FileSystem& fileSystem, const std::filesystem::path& outputFolder,
                                     const std::filesystem::path& staging, const CommitJournal& journal)
{
    for (std::size_t k = 0; k < journal.moves.size(); ++k) {
        const auto places = placesOf(outputFolder, staging, journal.moves[k].name);
        auto error = moveIn(fileSystem, places);
        if (!error) {
            continue;
        }
        auto failure = fileError(ErrorCode::WriteFailed, places.target, "move into place", error.value());
        const std::vector<JournalMove> begun(journal.moves.begin(),
                                             journal.moves.begin() + static_cast<std::ptrdiff_t>(k) + 1);
        if (undo(fileSystem, outputFolder, staging, begun)) {
            failure.message += keptSentence(staging);
            return MoveFailure{std::move(failure), true};
        }
        // Should the journal stay, the next create() undoes again, which finds nothing to do.
        const bool keep = static_cast<bool>(fileSystem.remove(staging / kJournalName));
        failure.message += kPutBack;
        return MoveFailure{std::move(failure), keep};
    }
    return std::nullopt;
}

// What recover() found: how a killed pass's commit ended, or what makes its staging folder one
// not to obey.
struct Found {
    Recovery recovery = Recovery::None;
    std::optional<JournalFault> fault;
    std::filesystem::path at;  // the journal or the "replaced" folder at fault
};

// The names in `replaced`, or none if it is not what a commit makes of it: a folder (not a link
// to one) of regular files, which alone may ever be moved into the output folder.
std::optional<std::vector<std::string>> replacedNames(const FileSystem& fileSystem,
                                                      const std::filesystem::path& replaced)
{
    const auto status = fileSystem.status(replaced);
    if (status.kind == FileKind::None) {
        return std::vector<std::string>{};
    }
    if (status.kind != FileKind::Folder) {
        return std::nullopt;
    }
    auto names = fileSystem.list(replaced);
    for (const auto& name : names) {
        if (!fileSystem.status(replaced / utf8Path(name)).regular) {
            return std::nullopt;
        }
    }
    return names;
}

// The journal at `path`, read as any file from elsewhere is: only a regular file, never through
// a link, never waiting on a FIFO, never past kCommitJournalLimit; every name a plain name of the
// folder other than the staging folder's own. Else why it is not obeyed.
std::variant<CommitJournal, JournalFault> loadJournal(const FileSystem& fileSystem, const std::filesystem::path& path)
{
    if (!fileSystem.status(path).regular) {
        return JournalFault::NotRegularFile;
    }
    std::error_code error;
    const auto text = fileSystem.readText(path, kCommitJournalLimit, error);
    if (!text) {
        if (error == std::errc::file_too_large) {
            return JournalFault::TooLarge;
        }
        const bool special = error == std::errc::too_many_symbolic_link_levels || error == std::errc::invalid_argument;
        return special ? JournalFault::NotRegularFile : JournalFault::Unreadable;
    }
    auto parsed = parseCommitJournal(*text);
    if (const auto* journal = std::get_if<CommitJournal>(&parsed)) {
        const auto isStaging = [](const std::string& name) { return name == StagingFolder::kName; };
        if (std::any_of(journal->moves.begin(), journal->moves.end(),
                        [&](const JournalMove& move) { return isStaging(move.name); }) ||
            std::any_of(journal->removals.begin(), journal->removals.end(), isStaging)) {
            return JournalFault::NameOutside;
        }
    }
    return parsed;
}

// Finishes or undoes the commit `journal` describes: done if its last file (the chart) is in
// place, undone if not.
Result<Recovery> obey(FileSystem& fileSystem, const std::filesystem::path& outputFolder,
                      const std::filesystem::path& staging, const CommitJournal& journal)
{
    const auto& last = journal.moves.back();
    if (holds(fileSystem, outputFolder / utf8Path(last.name), last.id)) {
        auto finished = finish(fileSystem, outputFolder, staging, journal);
        if (!finished) {
            return finished.error();
        }
        return Recovery::Completed;
    }
    if (const auto failed = undo(fileSystem, outputFolder, staging, journal.moves)) {
        auto error = fileError(ErrorCode::WriteFailed, failed->first, "put back", failed->second.value());
        error.message += keptSentence(staging);
        return error;
    }
    const auto journalPath = staging / kJournalName;
    if (auto error = fileSystem.remove(journalPath)) {
        return fileError(ErrorCode::WriteFailed, journalPath, "remove", error.value());
    }
    return Recovery::Undone;
}

// Finishes or undoes the commit a killed pass left in `staging` (see obey). Without a journal no
// commit had begun, so nothing of the output folder is in the staging folder; should some earlier
// file be there all the same, it goes back under its name if that is free, and the staging folder
// is kept if not. A journal or a "replaced" folder no commit would leave is not obeyed at all.
Result<Found> recover(FileSystem& fileSystem, const std::filesystem::path& outputFolder,
                      const std::filesystem::path& staging)
{
    const auto replaced = staging / kReplacedFolderName;
    const auto names = replacedNames(fileSystem, replaced);
    if (!names) {
        return Found{Recovery::SetAside, JournalFault::OddReplacedFolder, replaced};
    }
    const auto journalPath = staging / kJournalName;
    if (fileSystem.status(journalPath).kind == FileKind::None) {
        for (const auto& name : *names) {
            const auto target = outputFolder / utf8Path(name);
            if (fileSystem.status(target).kind != FileKind::None ||
                fileSystem.rename(replaced / utf8Path(name), target)) {
                return fileError(ErrorCode::WriteFailed, replaced / utf8Path(name), "put back",
                                 "the folder has a file of that name; move one of them by hand");
            }
        }
        return Found{};
    }
    const auto loaded = loadJournal(fileSystem, journalPath);
    if (const auto* fault = std::get_if<JournalFault>(&loaded)) {
        return Found{Recovery::SetAside, *fault, journalPath};
    }
    auto obeyed = obey(fileSystem, outputFolder, staging, std::get<CommitJournal>(loaded));
    if (!obeyed) {
        return obeyed.error();
    }
    return Found{*obeyed, std::nullopt, {}};
}

// Renames a staging folder not to be obeyed to the first free one of ".zentrowe-staging.set-aside",
// then "-2", "-3"...: kept whole, for its owner to look at, and out of the way of the next build.
Result<std::filesystem::path> setAsideFolder(FileSystem& fileSystem, const std::filesystem::path& outputFolder,
                                             const std::filesystem::path& staging)
{
    constexpr int kSetAsideLimit = 100;
    for (int k = 1; k <= kSetAsideLimit; ++k) {
        auto name = std::string(StagingFolder::kName) + ".set-aside";
        if (k > 1) {
            name += "-" + std::to_string(k);
        }
        const auto place = outputFolder / utf8Path(name);
        if (fileSystem.status(place).kind != FileKind::None) {
            continue;
        }
        if (auto error = fileSystem.rename(staging, place)) {
            return fileError(ErrorCode::WriteFailed, staging, "set aside", error.value());
        }
        return place;
    }
    return fileError(ErrorCode::WriteFailed, staging, "set aside",
                     std::to_string(kSetAsideLimit) + " earlier staging folders are set aside already; remove them");
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
      m_setAside(std::move(other.m_setAside)),
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
    Found found;
    std::optional<SetAsideStaging> setAsideStaging;
    if (fileSystem.status(path).kind == FileKind::Folder) {
        auto recovered = recover(fileSystem, outputFolder, path);
        if (!recovered) {
            return recovered.error();
        }
        found = *recovered;
    }
    if (found.fault) {
        auto place = setAsideFolder(fileSystem, outputFolder, path);
        if (!place) {
            return place.error();
        }
        setAsideStaging = SetAsideStaging{*found.fault, found.at, *place};
    }
    // Anything else of that name (a file, or a link, which is removed, never followed) goes.
    if (fileSystem.status(path).kind != FileKind::None) {
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
    staging.m_recovery = found.recovery;
    staging.m_setAside = std::move(setAsideStaging);
    return staging;
}

Result<std::vector<std::filesystem::path>> StagingFolder::commit(const std::vector<std::string>& names,
                                                                 const std::set<std::string>& replaceable,
                                                                 const std::vector<std::string>& removeAfter)
{
    auto& fileSystem = *m_fileSystem;
    auto journal = journalFor(fileSystem, m_outputFolder, m_path, names, replaceable);
    if (!journal) {
        return journal.error();
    }
    journal->removals = removeAfter;
    if (journal->moves.empty()) {
        return std::vector<std::filesystem::path>{};
    }
    if (auto failure = writeJournal(fileSystem, m_path, names, *journal)) {
        return *std::move(failure);
    }
    if (auto failure = moveAllIn(fileSystem, m_outputFolder, m_path, *journal)) {
        m_keep = failure->keep;
        return std::move(failure->error);
    }
    auto removed = finish(fileSystem, m_outputFolder, m_path, *journal);
    if (!removed) {
        m_keep = true;  // every file is in; the next create() finishes from the journal
        return std::vector<std::filesystem::path>{};
    }
    return removed;
}

}  // namespace zentrowe::base
