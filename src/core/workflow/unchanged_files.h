#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>
#include <span>
#include <string>

#include "core/base/file_system.h"
#include "core/base/result.h"

namespace zentrowe::workflow {

// The files of an output folder that a rebuild would write again byte for byte: left where they
// are, neither written into the staging folder nor moved by the commit, so that a rebuild with
// other chart options touches only what changed. Only a file an earlier build made (`built`, the
// names the manifest's records list) is left so, and only when the folder holds a regular file of
// that name with exactly the new bytes: the folder then reads as a build into a fresh one would
// leave it. Safe to use from several threads at once (the render pool's writers).
class UnchangedFiles {
public:
    UnchangedFiles(std::filesystem::path outputFolder, std::filesystem::path stage, std::set<std::string> built,
                   FileSystem& fileSystem);

    // Writes `bytes` to `staged` (a file of the staging folder) through the atomic writer, unless
    // the folder's file of that name holds them already; that name is then noted as unchanged.
    Status write(const std::filesystem::path& staged, std::span<const std::uint8_t> bytes);
    // Notes the name of a file already in the staging folder, which write() did not write, as
    // unchanged if the folder's file of that name holds the same bytes; true if it is unchanged.
    bool noteIfStagedSame(const std::string& name);
    // The names noted so far.
    std::set<std::string> names() const;

private:
    bool holds(const std::string& name, std::span<const std::uint8_t> bytes) const;

    std::filesystem::path m_outputFolder;
    std::filesystem::path m_stage;
    std::set<std::string> m_built;
    FileSystem* m_fileSystem;
    mutable std::mutex m_mutex;
    std::set<std::string> m_unchanged;
    std::set<std::string> m_written;  // compared by write() and found to differ
};

}  // namespace zentrowe::workflow
