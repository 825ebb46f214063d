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

// A file's bytes, read whole into memory that is neither cleared first nor grown while reading:
// a big song is read again at every pass, and clearing and faulting in tens of megabytes cost
// more than stepping through its events. Move-only.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(FileBytes&& other) noexcept;
    FileBytes& operator=(FileBytes&& other) noexcept;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes();

    std::span<const std::uint8_t> bytes() const
    {
        return m_mapped ? std::span<const std::uint8_t>(m_mapped, m_size) : std::span<const std::uint8_t>(m_copy);
    }

private:
    friend Result<FileBytes> readFileBytes(const std::filesystem::path& path);
    void release();

    std::uint8_t* m_mapped = nullptr;  // anonymous memory holding m_size bytes, m_mappedSize long
    std::size_t m_size = 0;
    std::size_t m_mappedSize = 0;
    std::vector<std::uint8_t> m_copy;  // used instead for files whose size is not known up front
};

// As readWholeFile; CannotOpen in the same cases.
Result<FileBytes> readFileBytes(const std::filesystem::path& path);

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
    // Appends up to `length` bytes of another open file, read from `offset`, copied inside the
    // kernel where the file systems allow it. Returns how many bytes the source had there
    // (fewer if it ends first); CannotOpen if the source cannot be read.
    Result<std::uint64_t> copyFrom(int sourceFd, std::uint64_t offset, std::uint64_t length);
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
