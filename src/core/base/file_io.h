#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/result.h"

namespace zentrowe {

// The whole file in memory. CannotOpen (naming the file and the system's reason) if it cannot
// be opened or read.
Result<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path);

// The path as the user would recognise it in a message.
std::string displayPath(const std::filesystem::path& path);

// Writes a file so that readers never see it half-written: the bytes go to a temporary file
// beside the target, which is renamed over the target once complete. On any failure the
// temporary file is removed, an earlier file of the target's name is left as it was, and the
// result is WriteFailed naming the target. Cancel (or destruction without commit) removes the
// temporary file.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path target);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Opens the temporary file. Must succeed before write().
    Status open();
    Status write(std::span<const std::uint8_t> bytes);
    Status write(std::string_view text);
    // Overwrites bytes already written (for sizes known only at the end).
    Status writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // Flushes, closes and renames into place.
    Status commit();
    void cancel();

    const std::filesystem::path& target() const { return m_target; }

private:
    Error failure(const std::string& what, int errnoValue) const;

    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
    int m_fd = -1;
};

// Convenience for files built whole in memory.
Status writeFileAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);
Status writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

}  // namespace zentrowe
