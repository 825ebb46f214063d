#include "core/base/file_reading.h"

#include <cerrno>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "core/base/native_io.h"

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

Result<OpenedFile> openRegularFile(const std::filesystem::path& path)
{
    const auto notRegular = [&] { return fileError(ErrorCode::CannotOpen, path, "read", "not a regular file"); };
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0) {
        return cannotRead(path, "open", errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return notRegular();
    }
    // Non-blocking, so that a FIFO put in the file's place since the stat cannot make the open
    // wait for a writer; regular files ignore the flag.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return cannotRead(path, "open", errno);
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int reason = errno;
        const bool regular = S_ISREG(info.st_mode);
        ::close(fd);
        return regular ? cannotRead(path, "open", reason) : notRegular();
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return OpenedFile{fd, static_cast<std::uint64_t>(info.st_size > 0 ? info.st_size : 0),
                      static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

namespace {

// Files up to this are read into the heap's memory rather than into memory mapped for them.
constexpr std::uint64_t kHeapReadLimit = std::uint64_t{1} << 20;

// Reads an open file to its end into a vector that grows as it goes: for files whose size
// fstat does not tell (those of /proc report 0), for small files, and for files that changed
// while read.
Result<std::vector<std::uint8_t>> readToEnd(int fd, const std::filesystem::path& path, std::uint64_t sizeHint)
{
    std::vector<std::uint8_t> bytes;
    bytes.resize(static_cast<std::size_t>(sizeHint));
    std::size_t filled = 0;
    for (;;) {
        // Once the size fstat gave is filled, probe with a small buffer: the file may have grown
        // since. Growing the vector itself just to find the end would copy the whole file once
        // more.
        std::uint8_t probe[65536];
        const bool full = filled == bytes.size();
        std::uint8_t* into = full ? probe : bytes.data() + filled;
        const std::size_t room = full ? sizeof probe : bytes.size() - filled;
        const ssize_t got = readSome(fd, into, room);
        if (got < 0) {
            return cannotRead(path, "read", errno);
        }
        if (got == 0) {
            break;
        }
        if (full) {
            bytes.insert(bytes.end(), probe, probe + got);
        }
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

// Closes the descriptor when the reading function returns, whichever way.
class FdCloser {
public:
    explicit FdCloser(int fd) : m_fd(fd) { }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    ~FdCloser() { ::close(m_fd); }

private:
    int m_fd;
};

}  // namespace

Result<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path)
{
    auto opened = openRegularFile(path);
    if (!opened) {
        return opened.error();
    }
    FdCloser closer(opened->fd);
    if (opened->size > kCopiedFileLimit) {
        // Callers of this reader want small files (a chart header, a test's output); a huge one
        // would only exhaust memory before being found wrong.
        return fileError(ErrorCode::CannotOpen, path, "read", "too large (" + std::to_string(opened->size) + " bytes)");
    }
    return readToEnd(opened->fd, path, opened->size);
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
    return readFileBytes(path, 0, {});
}

namespace {

// Reads up to headSize bytes from the file's start and lets checkHead judge them.
Status checkFileHead(int fd, const std::filesystem::path& path, std::size_t headSize,
                     const std::function<Status(std::span<const std::uint8_t>)>& checkHead)
{
    std::vector<std::uint8_t> head(headSize);
    std::size_t filled = 0;
    while (filled < head.size()) {
        const ssize_t got = ::pread(fd, head.data() + filled, head.size() - filled, static_cast<off_t>(filled));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return cannotRead(path, "read", errno);
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return checkHead(std::span<const std::uint8_t>(head).first(filled));
}

// Pages come from the file as a pass touches them, so a 100 GB sparse file whose header is
// wrong costs one page.
Result<std::uint8_t*> mapFile(int fd, const std::filesystem::path& path, std::size_t size)
{
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_NORESERVE, fd, 0);
    if (mapped == MAP_FAILED) {
        return cannotRead(path, "read", errno);
    }
    ::madvise(mapped, size, MADV_SEQUENTIAL);
    return static_cast<std::uint8_t*>(mapped);
}

// Large pages where the system offers them on request: a 70 MB song then takes some 35 page
// faults instead of 17,000.
std::uint8_t* anonymousMemory(std::size_t size)
{
    void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        throw std::bad_alloc();
    }
    ::madvise(memory, size, MADV_HUGEPAGE);
    return static_cast<std::uint8_t*>(memory);
}

// Reads into room bytes until the file ends; the count read. A file that shrank since fstat
// gives what was there.
Result<std::size_t> readUpTo(int fd, const std::filesystem::path& path, std::uint8_t* into, std::size_t room)
{
    std::size_t filled = 0;
    while (filled < room) {
        const ssize_t got = readSome(fd, into + filled, room - filled);
        if (got < 0) {
            return cannotRead(path, "read", errno);
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return filled;
}

// The whole file again when it grew while it was read; nothing when it did not.
Result<std::optional<std::vector<std::uint8_t>>> rereadIfGrown(int fd, const std::filesystem::path& path,
                                                               std::size_t size)
{
    std::uint8_t probe;
    if (readSome(fd, &probe, 1) <= 0) {
        return std::optional<std::vector<std::uint8_t>>();
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        return cannotRead(path, "read", errno);
    }
    auto bytes = readToEnd(fd, path, size);
    if (!bytes) {
        return bytes.error();
    }
    return std::optional<std::vector<std::uint8_t>>(std::move(bytes).value());
}

}  // namespace

Result<FileBytes> readFileBytes(const std::filesystem::path& path, std::size_t headSize,
                                const std::function<Status(std::span<const std::uint8_t>)>& checkHead)
{
    auto opened = openRegularFile(path);
    if (!opened) {
        return opened.error();
    }
    const int fd = opened->fd;
    FdCloser closer(fd);
    if (checkHead) {
        if (auto fits = checkFileHead(fd, path, headSize, checkHead); !fits) {
            return fits.error();
        }
    }
    FileBytes file;
    const std::uint64_t fileSize = opened->size;
    // A small file is read into the heap: memory mapped for each file and unmapped again stops
    // every other thread of the process to flush its address cache, which for a folder of a
    // thousand small sound files costs more than clearing their bytes first.
    if (fileSize <= kHeapReadLimit) {
        auto bytes = readToEnd(fd, path, fileSize);
        if (!bytes) {
            return bytes.error();
        }
        file.m_copy = std::move(bytes).value();
        return file;
    }
    if (fileSize > std::numeric_limits<std::size_t>::max() / 2) {
        return fileError(ErrorCode::CannotOpen, path, "read", "too large (" + std::to_string(fileSize) + " bytes)");
    }
    const auto size = static_cast<std::size_t>(fileSize);
    if (fileSize > kCopiedFileLimit) {
        auto mapped = mapFile(fd, path, size);
        if (!mapped) {
            return mapped.error();
        }
        file.m_mapped = *mapped;
        file.m_size = size;
        file.m_mappedSize = size;
        return file;
    }
    file.m_mapped = anonymousMemory(size);
    file.m_mappedSize = size;
    auto filled = readUpTo(fd, path, file.m_mapped, size);
    if (!filled) {
        return filled.error();
    }
    file.m_size = *filled;
    auto again = rereadIfGrown(fd, path, size);
    if (!again) {
        return again.error();
    }
    if (*again) {
        file.release();
        file.m_copy = std::move(**again);
    }
    return file;
}

}  // namespace zentrowe
