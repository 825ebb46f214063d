#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace zentrowe {

// What a path names, a symbolic link taken as itself (a link is a file for us: renaming it moves
// the link, never what it points to).
enum class FileKind { None, File, Folder };

// A file's identity, which a rename inside one file system keeps: which of two paths holds a file
// that was moved can be told after a crash from the identity noted before the move.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileId&) const = default;
};

struct FileStatus {
    FileKind kind = FileKind::None;
    FileId id;             // when kind is not None
    bool regular = false;  // a regular file: not a link, FIFO, device or socket
};

// The few file operations a commit makes, so that a test can fail any one of them (as ninja's
// DiskInterface does). Each returns the system's error, empty on success.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual FileStatus status(const std::filesystem::path& path) const = 0;
    // Renames over a file `to` names; never over a folder.
    virtual std::error_code rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // Swaps two existing files in one step; EINVAL or EOPNOTSUPP where the file system cannot.
    virtual std::error_code exchange(const std::filesystem::path& first, const std::filesystem::path& second) = 0;
    // Removes a file or an empty folder; none there is no error.
    virtual std::error_code remove(const std::filesystem::path& path) = 0;
    // Removes a folder and everything in it; none there is no error.
    virtual std::error_code removeAll(const std::filesystem::path& path) = 0;
    // Makes a folder; one already there is EEXIST.
    virtual std::error_code createFolder(const std::filesystem::path& path) = 0;
    // Writes the file whole and on the disk (its bytes and its name) before returning, so that
    // after a crash it is either all there or not there at all.
    virtual std::error_code writeDurably(const std::filesystem::path& path, std::string_view text) = 0;
    // Puts the named files of `folder` on the disk, their bytes and then the folder's names
    // (fsync; many at once with one sync of their file system), so that after a crash each is
    // there whole as written; the first error stops it.
    virtual std::error_code syncFiles(const std::filesystem::path& folder, const std::vector<std::string>& names) = 0;
    // The bytes of the regular file `path` names, at most `limit` of them: a link is not followed
    // (ELOOP), a FIFO is not waited on and neither it nor a device is read (EINVAL), a longer
    // file is EFBIG. Errors go to `error`, with none returned.
    virtual std::optional<std::string> readText(const std::filesystem::path& path, std::size_t limit,
                                                std::error_code& error) const = 0;
    // The names in a folder; empty if none or if it cannot be read.
    virtual std::vector<std::string> list(const std::filesystem::path& folder) const = 0;
    // Writes the file whole, not waiting for the disk: for what can be made again when lost.
    virtual std::error_code writeFile(const std::filesystem::path& path, std::string_view bytes);
};

// The operating system's file system.
class RealFileSystem : public FileSystem {
public:
    FileStatus status(const std::filesystem::path& path) const override;
    std::error_code rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
    std::error_code exchange(const std::filesystem::path& first, const std::filesystem::path& second) override;
    std::error_code remove(const std::filesystem::path& path) override;
    std::error_code removeAll(const std::filesystem::path& path) override;
    std::error_code createFolder(const std::filesystem::path& path) override;
    std::error_code writeDurably(const std::filesystem::path& path, std::string_view text) override;
    std::error_code syncFiles(const std::filesystem::path& folder, const std::vector<std::string>& names) override;
    std::optional<std::string> readText(const std::filesystem::path& path, std::size_t limit,
                                        std::error_code& error) const override;
    std::vector<std::string> list(const std::filesystem::path& folder) const override;
};

// One shared instance: it holds no state.
RealFileSystem& realFileSystem();

// What std::filesystem's calls of the same names do, through the system's own calls as the
// RealFileSystem's are, since on Windows only those take paths past MAX_PATH (260 characters).
// Makes `folder` and the missing folders above it; one already there is no error, a file in the
// way is ENOTDIR.
std::error_code createFolders(const std::filesystem::path& folder);
// The size of the file `path` names, a link followed; none when it cannot be read.
std::optional<std::uintmax_t> fileSize(const std::filesystem::path& path);
// Whether the two paths name one file (a link followed), as told by the files' identities.
bool sameFileOnDisk(const std::filesystem::path& first, const std::filesystem::path& second);

}  // namespace zentrowe
