#include "core/workflow/unchanged_files.h"

#include <algorithm>
#include <utility>

#include "core/audio/sound_file_writer.h"
#include "core/base/utf8_path.h"

namespace zentrowe::workflow {

UnchangedFiles::UnchangedFiles(std::filesystem::path outputFolder, std::filesystem::path stage,
                               std::set<std::string> built, FileSystem& fileSystem)
    : m_outputFolder(std::move(outputFolder)),
      m_stage(std::move(stage)),
      m_built(std::move(built)),
      m_fileSystem(&fileSystem)
{
}

Status UnchangedFiles::write(const std::filesystem::path& staged, std::span<const std::uint8_t> bytes)
{
    const std::string name = staged.filename().string();
    const bool staging = staged.parent_path() == m_stage;
    const bool same = staging && holds(name, bytes);
    {
        const std::lock_guard lock(m_mutex);
        (same ? m_unchanged : m_written).insert(name);
    }
    return same ? Status() : audio::writeSoundBytes(staged, bytes, *m_fileSystem);
}

bool UnchangedFiles::noteIfStagedSame(const std::string& name)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_built.count(name) == 0 || m_written.count(name) != 0 || m_unchanged.count(name) != 0) {
            return m_unchanged.count(name) != 0;  // compared when written
        }
    }
    std::error_code error;
    // A staged file is one the build wrote: never larger than the folder's file it may equal.
    const auto staged = m_fileSystem->readText(m_stage / utf8Path(name), std::size_t{1} << 30, error);
    if (!staged || !holds(name, {reinterpret_cast<const std::uint8_t*>(staged->data()), staged->size()})) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    m_unchanged.insert(name);
    return true;
}

std::set<std::string> UnchangedFiles::names() const
{
    const std::lock_guard lock(m_mutex);
    return m_unchanged;
}

// Read through the file-system seam: a link or FIFO under the name is never read, only a regular
// file, and one longer than the bytes stops the reading at once.
bool UnchangedFiles::holds(const std::string& name, std::span<const std::uint8_t> bytes) const
{
    if (m_built.count(name) == 0) {
        return false;
    }
    std::error_code error;
    const auto kept = m_fileSystem->readText(m_outputFolder / utf8Path(name), bytes.size(), error);
    return kept && kept->size() == bytes.size() &&
           std::equal(bytes.begin(), bytes.end(), reinterpret_cast<const std::uint8_t*>(kept->data()));
}

}  // namespace zentrowe::workflow
