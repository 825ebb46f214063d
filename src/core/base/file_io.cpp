#include "core/base/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace zentrowe {

namespace {

std::string systemReason(int errnoValue)
{
    return std::strerror(errnoValue);
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
        return Error{ErrorCode::CannotOpen, displayPath(path) + ": cannot open: " + systemReason(errno)};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        const int reason = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        return Error{ErrorCode::CannotOpen, displayPath(path) + ": cannot open: " + systemReason(reason)};
    }
    std::vector<std::uint8_t> bytes;
    bytes.resize(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 0));
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            // The file may have grown since fstat, or be a pipe reporting size 0.
            bytes.resize(bytes.size() + 65536);
        }
        const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int reason = errno;
            ::close(fd);
            return Error{ErrorCode::CannotOpen, displayPath(path) + ": cannot read: " + systemReason(reason)};
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    bytes.resize(filled);
    return bytes;
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
        m_temporary = folder / ("." + m_target.filename().string() + suffix);
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
