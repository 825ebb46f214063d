#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "core/base/file_error.h"
#include "core/base/result.h"

namespace zentrowe {

// A regular file open for reading, and what fstat said of it. The caller closes `fd`.
struct OpenedFile {
    int fd = -1;
    std::uint64_t size = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Opens `path` for reading only if it names a regular file: a FIFO, a device such as /dev/zero,
// a folder or a socket would hang the reader or never end. The path is checked with stat
// before it is opened, and opened without waiting for a FIFO's writer in case it was replaced
// meanwhile. CannotOpen naming the file: "PATH: cannot read: not a regular file", or the
// system's reason.
Result<OpenedFile> openRegularFile(const std::filesystem::path& path);

// The whole file in memory. CannotOpen (naming the file and the system's reason) if it cannot
// be opened or read, or is not a regular file.
Result<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path);

// A file's bytes. Up to kCopiedFileLimit they are read whole into memory that is neither cleared
// first nor grown while reading: a big song is read again at every pass, and clearing and
// faulting in tens of megabytes cost more than stepping through its events. A larger file is
// mapped instead, so that a huge (or sparse) file costs address space, not memory: only the
// pages a pass touches are read. Move-only.
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
    friend Result<FileBytes> readFileBytes(const std::filesystem::path& path, std::size_t headSize,
                                           const std::function<Status(std::span<const std::uint8_t>)>& checkHead);
    void release();

    // Anonymous memory holding m_size bytes, or the file itself mapped; m_mappedSize long.
    std::uint8_t* m_mapped = nullptr;
    std::size_t m_size = 0;
    std::size_t m_mappedSize = 0;
    std::vector<std::uint8_t> m_copy;  // used instead for files whose size is not known up front
};

// Files larger than this are mapped rather than copied.
inline constexpr std::uint64_t kCopiedFileLimit = std::uint64_t{256} << 20;

// As readWholeFile; CannotOpen in the same cases.
Result<FileBytes> readFileBytes(const std::filesystem::path& path);

// The same, but the first `headSize` bytes (fewer if the file is shorter) are read on their own
// and given to `checkHead` before anything else: a file that is not of the expected kind is
// refused with checkHead's error before its size is allocated or read.
Result<FileBytes> readFileBytes(const std::filesystem::path& path, std::size_t headSize,
                                const std::function<Status(std::span<const std::uint8_t>)>& checkHead);

}  // namespace zentrowe
