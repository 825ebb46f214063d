#include "core/base/file_reading.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <utility>

namespace zentrowe {

namespace {

Error cannotRead(const std::filesystem::path& path, const char* what, int errnoValue)
{
    return fileError(ErrorCode::CannotOpen, path, what, errnoValue);
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

}  // namespace zentrowe
