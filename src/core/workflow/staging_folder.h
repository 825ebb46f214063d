#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/base/result.h"

namespace zentrowe::workflow {

// A hidden folder inside an output folder (so on the same file system, where a rename is one
// step) in which a pass writes every new file before any of them replaces a file of the output
// folder. Removed, with whatever it still holds, when destroyed: a pass that fails or is
// cancelled before commit() leaves the output folder as it was.
class StagingFolder {
public:
    static constexpr const char* kName = ".zentrowe-staging";

    // Makes the staging folder, first removing one a killed pass left behind (the caller holds
    // the output folder's lock). WriteFailed naming it if it cannot be made.
    static Result<StagingFolder> create(const std::filesystem::path& outputFolder);

    StagingFolder(StagingFolder&& other) noexcept;
    StagingFolder& operator=(StagingFolder&&) = delete;
    StagingFolder(const StagingFolder&) = delete;
    ~StagingFolder();

    const std::filesystem::path& path() const { return m_path; }

    // Moves the named files from the staging folder into the output folder, in order (so the
    // last is the last to appear). Files they replace are kept aside until every one is in; if a
    // move fails, those put in are taken out, the replaced ones go back, and the result is
    // WriteFailed naming the file.
    Status commit(const std::vector<std::string>& names);

private:
    StagingFolder(std::filesystem::path outputFolder, std::filesystem::path path);

    std::filesystem::path m_outputFolder;
    std::filesystem::path m_path;  // empty once moved from
};

}  // namespace zentrowe::workflow
