#include "core/base/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <utility>

namespace zentrowe {

namespace {

std::string systemReason(int errnoValue)
{
    return std::strerror(errnoValue);
}

Error cannotRead(const std::filesystem::path& path, const char* what, int errnoValue)
{
    return Error{ErrorCode::CannotOpen, displayPath(path) + ": cannot " + what + ": " + systemReason(errnoValue)};
}

// One read(2), retried when a signal interrupts it: the byte count, 0 at the end, -1 on failure.
ssize_t readSome(int fd, std::uint8_t* into, std::size_t room)
{
    ssize_t got = 0;
    do {
        got = ::read(fd, into, room);
    } while (got < 0 && errno == EINTR);
    return got;
}

}  // namespace

std::string displayPath(const std::filesystem::path& path)
{
    return path.string();
}

Result<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return cannotRead(path, "open", errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        const int reason = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        return cannotRead(path, "open", reason);
    }
    std::vector<std::uint8_t> bytes;
    bytes.resize(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 0));
    std::size_t filled = 0;
    for (;;) {
        // Once the size fstat gave is filled, probe with a small buffer: the file may have grown
        // since, or be a pipe reporting size 0. Growing the vector itself just to find the end
        // would copy the whole file once more.
        std::uint8_t probe[65536];
        const bool full = filled == bytes.size();
        std::uint8_t* into = full ? probe : bytes.data() + filled;
        const std::size_t room = full ? sizeof probe : bytes.size() - filled;
        const ssize_t got = readSome(fd, into, room);
        if (got < 0) {
            const int reason = errno;
            ::close(fd);
            return cannotRead(path, "read", reason);
        }
        if (got == 0) {
            break;
        }
        if (full) {
            bytes.insert(bytes.end(), probe, probe + got);
        }
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    bytes.resize(filled);
    return bytes;
}

FileBytes::FileBytes(FileBytes&& other) noexcept
    : m_mapped(std::exchange(other.m_mapped, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_mappedSize(std::exchange(other.m_mappedSize, 0)),
      m_copy(std::move(other.m_copy))
{
}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept
{
    if (this != &other) {
        release();
        m_mapped = std::exchange(other.m_mapped, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mappedSize = std::exchange(other.m_mappedSize, 0);
        m_copy = std::move(other.m_copy);
    }
    return *this;
}

FileBytes::~FileBytes()
{
    release();
}

void FileBytes::release()
{
    if (m_mapped != nullptr) {
        ::munmap(m_mapped, m_mappedSize);
        m_mapped = nullptr;
    }
    m_size = 0;
    m_mappedSize = 0;
    m_copy.clear();
}

Result<FileBytes> readFileBytes(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return cannotRead(path, "open", errno);
    }
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    if (!known) {
        // Folders, pipes, devices, empty files and the like: the general reader says what fits.
        ::close(fd);
        auto bytes = readWholeFile(path);
        if (!bytes) {
            return bytes.error();
        }
        FileBytes file;
        file.m_copy = std::move(bytes).value();
        return file;
    }
    FileBytes file;
    const auto size = static_cast<std::size_t>(info.st_size);
    void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        ::close(fd);
        throw std::bad_alloc();
    }
    // Large pages where the system offers them on request: a 70 MB song then takes some 35
    // page faults instead of 17,000.
    ::madvise(memory, size, MADV_HUGEPAGE);
    file.m_mapped = static_cast<std::uint8_t*>(memory);
    file.m_mappedSize = size;
    while (file.m_size < size) {
        const ssize_t got = readSome(fd, file.m_mapped + file.m_size, size - file.m_size);
        if (got < 0) {
            const int reason = errno;
            ::close(fd);
            return cannotRead(path, "read", reason);
        }
        if (got == 0) {
            break;  // the file shrank since fstat: what was there is what we read
        }
        file.m_size += static_cast<std::size_t>(got);
    }
    std::uint8_t probe;
    const ssize_t more = readSome(fd, &probe, 1);
    ::close(fd);
    if (more > 0) {
        // The file grew while we read it: read it again whole.
        auto bytes = readWholeFile(path);
        if (!bytes) {
            return bytes.error();
        }
        file.release();
        file.m_copy = std::move(bytes).value();
    }
    return file;
}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target) : m_target(std::move(target)) {}

AtomicFileWriter::~AtomicFileWriter()
{
    cancel();
}

Error AtomicFileWriter::failure(const std::string& what, int errnoValue) const
{
    return Error{ErrorCode::WriteFailed, displayPath(m_target) + ": cannot " + what + ": " + systemReason(errnoValue)};
}

Status AtomicFileWriter::open()
{
    cancel();
    std::random_device random;
    const auto folder = m_target.has_parent_path() ? m_target.parent_path() : std::filesystem::path(".");
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", random());
        // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "." + std::string.
        std::string name = ".";
        name += m_target.filename().string();
        name += suffix;
        m_temporary = folder / name;
        m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            return {};
        }
        if (errno != EEXIST) {
            const int reason = errno;
            m_temporary.clear();
            return failure("write", reason);
        }
    }
    m_temporary.clear();
    return failure("write", EEXIST);
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
            return failure("write", errno);
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

Result<std::uint64_t> AtomicFileWriter::copyFrom(int sourceFd, std::uint64_t offset, std::uint64_t length)
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
                return failure("write", errno);
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
            return Error{ErrorCode::CannotOpen, "cannot read: " + systemReason(errno)};
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

Status AtomicFileWriter::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    assert(m_fd >= 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure("write", errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}

Status AtomicFileWriter::commit()
{
    assert(m_fd >= 0);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        const int reason = errno;
        cancel();
        return failure("write", reason);
    }
    // Swapping the finished file with an existing target, then removing the old one, replaces
    // it as atomically as a rename over it does, and spares the flush some file systems (ext4)
    // start on every rename that replaces a file: cutting a thousand keysounds over an earlier
    // run's files would otherwise wait for the disk a thousand times.
    // Only an existing regular file is swapped; anything else (no file yet, a folder in the way)
    // goes through the plain rename and its errors.
    struct stat existing {};
    if (::lstat(m_target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        ::renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, m_target.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
        return {};
    }
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        const int reason = errno;
        cancel();
        return failure("write", reason);
    }
    m_temporary.clear();
    return {};
}

void AtomicFileWriter::cancel()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

Status writeFileAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> bytes)
{
    AtomicFileWriter writer(target);
    if (auto opened = writer.open(); !opened) {
        return opened;
    }
    if (auto written = writer.write(bytes); !written) {
        return written;
    }
    return writer.commit();
}

Status writeFileAtomically(const std::filesystem::path& target, std::string_view bytes)
{
    return writeFileAtomically(target, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace zentrowe
