#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/base/commit_journal.h"
#include "core/base/file_system.h"
#include "core/base/result.h"

namespace zentrowe::base {

// What became of a commit a killed pass left unfinished, found when the next staging folder is made.
enum class Recovery {
    None,       // there was none
    Completed,  // its last file was in place: the rest of its commit was done
    Undone,     // it was not: the files it had moved in were taken out, the ones they replaced put back
    SetAside,   // what it left is not what a commit leaves (SetAsideStaging): nothing of it was obeyed
};

// A staging folder left behind whose journal or "replaced" folder no commit would leave (a name
// out of the folder, a link, a FIFO, damage): renamed, whole, rather than obeyed.
struct SetAsideStaging {
    JournalFault fault;
    std::filesystem::path found;    // the journal, or the "replaced" folder, at fault
    std::filesystem::path movedTo;  // where the staging folder now is, inside the output folder
};

// A hidden folder inside an output folder (so on the same file system, where a rename is one
// step) in which a pass writes every new file before any of them replaces a file of the output
// folder. Removed, with whatever it still holds, when destroyed: a pass that fails or is
// cancelled before commit() leaves the output folder as it was.
//
// The commit first writes a journal into the staging folder (on the disk before the first move)
// naming each file it moves in and each it removes afterwards; the earlier files it replaces wait
// in the staging folder until the last file is in. A commit cut short (killed, power lost) is
// therefore finished or undone by the next create(), and the staging folder is never removed
// while it holds an earlier file of the output folder that is not back in place.
class StagingFolder {
public:
    static constexpr const char* kName = ".zentrowe-staging";

    // Makes the staging folder (the caller holds the output folder's lock). One a killed pass left
    // behind is recovered first (see Recovery) and then removed. Its journal is read as any file
    // from elsewhere is, and no step of the recovery touches a path outside the output folder or
    // moves anything but a regular file into it; one not to obey is set aside (setAside()).
    // WriteFailed naming the folder if it cannot be made, or naming the file if an unfinished
    // commit cannot be recovered (the staging folder is then kept as it is, with the earlier
    // files in it).
    static Result<StagingFolder> create(const std::filesystem::path& outputFolder, FileSystem& fileSystem);

    StagingFolder(StagingFolder&& other) noexcept;
    StagingFolder& operator=(StagingFolder&&) = delete;
    StagingFolder(const StagingFolder&) = delete;
    ~StagingFolder();

    const std::filesystem::path& path() const { return m_path; }
    // What the folder's files are written, moved and removed through.
    FileSystem& fileSystem() const { return *m_fileSystem; }
    // What create() found of a killed pass's commit.
    Recovery recovery() const { return m_recovery; }
    // With Recovery::SetAside: what was not obeyed, and where it was put.
    const std::optional<SetAsideStaging>& setAside() const { return m_setAside; }

    // Moves the named files from the staging folder into the output folder, in order (so the
    // last is the last to appear), then removes the output folder's files named in `removeAfter`
    // (files only, never a folder), and returns the paths it removed. Only the names in
    // `replaceable` may replace what the output folder holds, and a folder is never replaced:
    // anything else under a name refuses the commit before any move, WouldReplaceChart naming
    // it (subject "folder" or "file"). An earlier file replaced stays in the staging folder until
    // the last file is in; if a move fails, the files put in are taken out and the replaced ones
    // go back, and the result is WriteFailed naming the file, its message saying which files the
    // folder now holds.
    Result<std::vector<std::filesystem::path>> commit(const std::vector<std::string>& names,
                                                      const std::set<std::string>& replaceable,
                                                      const std::vector<std::string>& removeAfter = {});

private:
    StagingFolder(std::filesystem::path outputFolder, std::filesystem::path path, FileSystem& fileSystem);

    std::filesystem::path m_outputFolder;
    std::filesystem::path m_path;  // empty once moved from, or when it must be kept
    FileSystem* m_fileSystem;
    Recovery m_recovery = Recovery::None;
    std::optional<SetAsideStaging> m_setAside;
    bool m_keep = false;  // it holds a commit the next create() must finish or undo
};

}  // namespace zentrowe::base
