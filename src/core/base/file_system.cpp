#include "core/base/file_system.h"

#include <cerrno>
#include <cstdio>

#include "core/base/native_io.h"
#include "core/base/utf8_path.h"

namespace zentrowe {

namespace {

std::error_code lastError()
{
    return {errno, std::generic_category()};
}

// Writes all of `text` to `fd`, carrying on after a signal.
bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t done = ::write(fd, text.data(), text.size());
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

// Puts what `path` holds on the disk: a file's bytes, or a folder's entries.
std::error_code syncPath(const std::filesystem::path& path, int openFlags)
{
    const int fd = ::open(path.c_str(), openFlags | O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return lastError();
    }
    std::error_code error;
    if (::fsync(fd) != 0) {
        error = lastError();
    }
    ::close(fd);
    return error;
}

// Flushes a folder's entries, so that a name just made or renamed in it survives a crash.
std::error_code syncFolder(const std::filesystem::path& folder)
{
    return syncPath(folder, O_DIRECTORY);
}

// From this many files on, syncFiles puts them on the disk with one sync of their whole file
// system: each fsync flushes the disk's cache, and a build commits a thousand keysounds.
constexpr std::size_t kOneSyncFromFiles = 16;

// Puts every file of the file system holding `folder` on the disk, its bytes and its names
// (syncfs); a write of any of them that failed, even before the call, is its error.
// ENOSYS where the system has no such call.
std::error_code syncFileSystemOf(const std::filesystem::path& folder)
{
#ifdef __linux__
    const int fd = ::open(folder.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return lastError();
    }
    std::error_code error;
    if (::syncfs(fd) != 0) {
        error = lastError();
    }
    ::close(fd);
    return error;
#else
    (void)folder;
    return std::make_error_code(std::errc::function_not_supported);
#endif
}

// The names in `folder` but "." and "..", through the system's own calls: on Windows its wide
// ones, which take paths past MAX_PATH where std::filesystem's do not. A folder that cannot be
// read, or stops being readable, sets `error`, with the names read until then.
std::vector<std::string> namesIn(const std::filesystem::path& folder, std::error_code& error)
{
    std::vector<std::string> names;
    DIR* opened = ::opendir(folder.c_str());
    if (opened == nullptr) {
        error = lastError();
        return names;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(opened)) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    if (errno != 0) {
        error = lastError();
    }
    ::closedir(opened);
    return names;
}

}  // namespace

FileStatus RealFileSystem::status(const std::filesystem::path& path) const
{
    struct stat info { };
    if (::lstat(path.c_str(), &info) != 0) {
        return {};
    }
    return {S_ISDIR(info.st_mode) ? FileKind::Folder : FileKind::File,
            FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)},
            S_ISREG(info.st_mode)};
}

std::error_code RealFileSystem::rename(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return lastError();
    }
    return {};
}

std::error_code RealFileSystem::exchange(const std::filesystem::path& first, const std::filesystem::path& second)
{
    if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) != 0) {
        return lastError();
    }
    return {};
}

std::error_code RealFileSystem::remove(const std::filesystem::path& path)
{
    struct stat info { };
    if (::lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? std::error_code{} : lastError();
    }
    if ((S_ISDIR(info.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) != 0 && errno != ENOENT) {
        return lastError();
    }
    return {};
}

std::error_code RealFileSystem::removeAll(const std::filesystem::path& path)
{
    // A link is removed as a file, never followed into what it names.
    struct stat info { };
    if (::lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? std::error_code{} : lastError();
    }
    if (S_ISDIR(info.st_mode)) {
        std::error_code error;
        for (const auto& name : namesIn(path, error)) {
            if (const auto removed = removeAll(path / utf8Path(name))) {
                return removed;
            }
        }
        if (error) {
            return error;
        }
    }
    return remove(path);
}

std::error_code RealFileSystem::createFolder(const std::filesystem::path& path)
{
    if (::mkdir(path.c_str(), 0777) != 0) {
        return lastError();
    }
    return {};
}

std::error_code FileSystem::writeFile(const std::filesystem::path& path, std::string_view bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return lastError();
    }
    std::error_code error;
    if (!writeAll(fd, bytes)) {
        error = lastError();
    }
    if (::close(fd) != 0 && !error) {
        error = lastError();
    }
    return error;
}

std::error_code RealFileSystem::writeDurably(const std::filesystem::path& path, std::string_view text)
{
    // Written under another name and renamed: a crash while writing leaves no half file of `path`.
    auto temporary = path;
    temporary += ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return lastError();
    }
    std::error_code error;
    if (!writeAll(fd, text) || ::fsync(fd) != 0) {
        error = lastError();
    }
    if (::close(fd) != 0 && !error) {
        error = lastError();
    }
    if (!error && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = lastError();
    }
    if (error) {
        ::unlink(temporary.c_str());
        return error;
    }
    return syncFolder(path.has_parent_path() ? path.parent_path() : std::filesystem::path("."));
}

std::error_code RealFileSystem::syncFiles(const std::filesystem::path& folder, const std::vector<std::string>& names)
{
    if (names.size() >= kOneSyncFromFiles) {
        if (const auto synced = syncFileSystemOf(folder); synced != std::errc::function_not_supported) {
            return synced;
        }
    }
    for (const auto& name : names) {
        if (const auto error = syncPath(folder / utf8Path(name), 0)) {
            return error;
        }
    }
    return syncFolder(folder);
}

std::optional<std::string> RealFileSystem::readText(const std::filesystem::path& path, std::size_t limit,
                                                    std::error_code& error) const
{
    // Opened without following a link and without waiting for a FIFO's writer, then checked by
    // what the descriptor is: the path may have changed since the caller looked at it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        error = lastError();
        return std::nullopt;
    }
    struct stat info { };
    std::string text;
    if (::fstat(fd, &info) != 0) {
        error = lastError();
    } else if (!S_ISREG(info.st_mode)) {
        error = std::make_error_code(std::errc::invalid_argument);
    } else if (static_cast<std::uintmax_t>(info.st_size) > limit) {
        error = std::make_error_code(std::errc::file_too_large);
    } else {
        text.resize(static_cast<std::size_t>(info.st_size));
        std::size_t filled = 0;
        while (filled < text.size()) {
            const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                error = got < 0 ? lastError() : std::error_code{};
                break;
            }
            filled += static_cast<std::size_t>(got);
        }
        text.resize(filled);  // a file that shrank meanwhile is what was there
    }
    ::close(fd);
    if (error) {
        return std::nullopt;
    }
    return text;
}

std::vector<std::string> RealFileSystem::list(const std::filesystem::path& folder) const
{
    std::error_code ignored;
    return namesIn(folder, ignored);
}

std::error_code createFolders(const std::filesystem::path& folder)
{
    struct stat info { };
    if (::stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? std::error_code{} : std::make_error_code(std::errc::not_a_directory);
    }
    if (const auto parent = folder.parent_path(); !parent.empty() && parent != folder) {
        if (const auto error = createFolders(parent)) {
            return error;
        }
    }
    // Made meanwhile by another build is as good as made here.
    if (::mkdir(folder.c_str(), 0777) != 0 && (errno != EEXIST || ::stat(folder.c_str(), &info) != 0)) {
        return lastError();
    }
    return {};
}

std::optional<std::uintmax_t> fileSize(const std::filesystem::path& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uintmax_t>(info.st_size);
}

bool sameFileOnDisk(const std::filesystem::path& first, const std::filesystem::path& second)
{
    struct stat firstInfo { };
    struct stat secondInfo { };
    return ::stat(first.c_str(), &firstInfo) == 0 && ::stat(second.c_str(), &secondInfo) == 0 &&
           firstInfo.st_dev == secondInfo.st_dev && firstInfo.st_ino == secondInfo.st_ino;
}

RealFileSystem& realFileSystem()
{
    static RealFileSystem system;
    return system;
}

}  // namespace zentrowe
