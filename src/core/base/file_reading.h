#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "core/base/file_error.h"
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

}  // namespace zentrowe
