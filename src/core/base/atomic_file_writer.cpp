#include "core/base/atomic_file_writer.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/base/native_io.h"
#include "core/base/number_text.h"
#include "core/base/utf8_path.h"

namespace zentrowe {

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target, FileSystem& files)
    : m_target(std::move(target)), m_files(&files)
{
}

AtomicFileWriter::~AtomicFileWriter()
{
    cancel();
}

Error AtomicFileWriter::failure(int errnoValue) const
{
    return fileError(ErrorCode::WriteFailed, m_target, "write", errnoValue);
}

Status AtomicFileWriter::open()
{
    cancel();
    std::random_device random;
    const auto folder = m_target.has_parent_path() ? m_target.parent_path() : std::filesystem::path(".");
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string suffix = "." + hexText(random(), 8, false) + ".tmp";
        // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "." + std::string.
        std::string name = ".";
        name += m_target.filename().string();
        // A target whose name nearly fills the file system's 255 bytes gets a temporary name cut
        // short: it only has to be unique in the folder, and the target itself fits.
        name.resize(std::min(name.size(), kLongestName - suffix.size()));
        name += suffix;
        m_temporary = folder / utf8Path(name);
        m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            return {};
        }
        if (errno != EEXIST) {
            const int reason = errno;
            m_temporary.clear();
            return failure(reason);
        }
    }
    m_temporary.clear();
    return failure(EEXIST);
}

Status AtomicFileWriter::write(std::span<const std::uint8_t> bytes)
{
    assert(m_fd >= 0);
    const std::uint8_t* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t done = ::write(m_fd, data, left);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure(errno);
        }
        data += done;
        left -= static_cast<std::size_t>(done);
    }
    return {};
}

Status AtomicFileWriter::write(std::string_view text)
{
    return write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Result<std::uint64_t> AtomicFileWriter::copyFrom(int sourceFd, const std::filesystem::path& sourcePath,
                                                 std::uint64_t offset, std::uint64_t length)
{
    assert(m_fd >= 0);
    std::uint64_t done = 0;
    bool inKernel = true;
    std::vector<std::uint8_t> buffer;
    while (done < length) {
        const std::uint64_t want = std::min<std::uint64_t>(length - done, std::uint64_t{1} << 30);
        if (inKernel) {
            auto from = static_cast<off_t>(offset + done);
            const ssize_t n = ::copy_file_range(sourceFd, &from, m_fd, nullptr, static_cast<std::size_t>(want), 0);
            if (n > 0) {
                done += static_cast<std::uint64_t>(n);
                continue;
            }
            if (n == 0) {
                break;  // the source ends here
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF) {
                return failure(errno);
            }
            inKernel = false;  // file systems or kernels that cannot: copy through memory
            buffer.resize(std::size_t{1} << 20);
        }
        const ssize_t got = ::pread(sourceFd, buffer.data(), std::min<std::uint64_t>(want, buffer.size()),
                                    static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fileError(ErrorCode::CannotOpen, sourcePath, "read", errno);
        }
        if (got == 0) {
            break;
        }
        if (auto written = write(std::span(buffer.data(), static_cast<std::size_t>(got))); !written) {
            return written.error();
        }
        done += static_cast<std::uint64_t>(got);
    }
    return done;
}

Status AtomicFileWriter::close()
{
    assert(m_fd >= 0);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        const int reason = errno;
        cancel();
        return failure(reason);
    }
    return {};
}

Status AtomicFileWriter::swapIn(bool keepPrevious)
{
    // Swapping the finished file with an existing target, then removing the old one, replaces
    // it as atomically as a rename over it does, and spares the flush some file systems (ext4)
    // start on every rename that replaces a file: cutting a thousand keysounds over an earlier
    // run's files would otherwise wait for the disk a thousand times.
    // A folder in the way is never swapped: it goes through the plain rename and its errors.
    const auto existing = m_files->status(m_target).kind;
    if (existing == FileKind::File && !m_files->exchange(m_temporary, m_target)) {
        m_hadPrevious = true;
        if (!keepPrevious) {
            dropPrevious();
        }
        return {};
    }
    if (existing == FileKind::File && keepPrevious) {
        return swapInBesidePrevious();
    }
    if (const auto error = m_files->rename(m_temporary, m_target)) {
        cancel();
        return failure(error.value());
    }
    m_hadPrevious = false;
    if (!keepPrevious) {
        m_temporary.clear();
    }
    return {};
}

// Where names cannot be exchanged (NTFS, some network file systems), a rename over the earlier
// file would lose it, yet it must be able to go back: it moves to a name of its own first.
Status AtomicFileWriter::swapInBesidePrevious()
{
    auto aside = m_temporary;
    aside.replace_extension(".old");
    if (const auto error = m_files->rename(m_target, aside)) {
        cancel();
        return failure(error.value());
    }
    if (const auto error = m_files->rename(m_temporary, m_target)) {
        m_files->rename(aside, m_target);
        cancel();
        return failure(error.value());
    }
    m_temporary = aside;
    m_hadPrevious = true;
    return {};
}

void AtomicFileWriter::dropPrevious()
{
    if (m_hadPrevious) {
        m_files->remove(m_temporary);
    }
    m_temporary.clear();
    m_hadPrevious = false;
}

void AtomicFileWriter::restorePrevious()
{
    if (m_hadPrevious) {
        // The earlier file goes back under its name; the new one takes its place and is removed.
        // Should both ways fail, the earlier file stays under the temporary name rather than
        // being lost.
        if (!m_files->exchange(m_temporary, m_target)) {
            m_files->remove(m_temporary);
        } else {
            m_files->rename(m_temporary, m_target);
        }
    } else {
        m_files->remove(m_target);
    }
    m_temporary.clear();
    m_hadPrevious = false;
}

Status AtomicFileWriter::commit()
{
    if (auto closed = close(); !closed) {
        return closed;
    }
    return swapIn(false);
}

void AtomicFileWriter::cancel()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        m_files->remove(m_temporary);
        m_temporary.clear();
    }
}

Status writeFileAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> bytes, FileSystem& files)
{
    AtomicFileWriter file(target, files);
    Status status = file.open();
    if (status) {
        status = file.write(bytes);
    }
    if (status) {
        status = file.commit();
    }
    return status;
}

Status commitTogether(AtomicFileWriter& first, AtomicFileWriter& second)
{
    auto closed = first.close();
    if (closed) {
        closed = second.close();
    }
    if (!closed) {
        first.cancel();
        second.cancel();
        return closed;
    }
    if (auto placed = first.swapIn(true); !placed) {
        second.cancel();
        return placed;
    }
    if (auto placed = second.swapIn(false); !placed) {
        first.restorePrevious();
        return placed;
    }
    first.dropPrevious();
    return {};
}

}  // namespace zentrowe
