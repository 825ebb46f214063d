#include "core/base/folder_lock.h"

#include <cerrno>
#include <thread>
#include <utility>

#include "core/base/file_error.h"
#include "core/base/file_system.h"
#include "core/base/native_io.h"

namespace zentrowe {

namespace {

constexpr std::chrono::milliseconds kRetryInterval(20);

}  // namespace

FolderLock::FolderLock(std::filesystem::path folder, std::filesystem::path firstMade, int fd)
    : m_folder(std::move(folder)), m_firstMade(std::move(firstMade)), m_fd(fd)
{
}

FolderLock::FolderLock(FolderLock&& other) noexcept
    : m_folder(std::move(other.m_folder)),
      m_firstMade(std::move(other.m_firstMade)),
      m_fd(std::exchange(other.m_fd, -1))
{
}

FolderLock::~FolderLock()
{
    if (m_fd < 0) {
        return;
    }
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    if (m_firstMade.empty()) {
        return;
    }
    // Folders this pass made and left empty go again, innermost first; rmdir refuses a folder
    // that holds anything.
    for (auto folder = m_folder; !folder.empty(); folder = folder.parent_path()) {
        if (::rmdir(folder.c_str()) != 0 || folder == m_firstMade) {
            break;
        }
    }
}

Result<FolderLock> FolderLock::acquire(const std::filesystem::path& folder, std::chrono::milliseconds wait)
{
    // The system's own calls throughout: on Windows only they take paths past MAX_PATH.
    std::error_code error;
    struct stat info { };
    std::filesystem::path firstMade;
    if (::stat(folder.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            return fileError(ErrorCode::WriteFailed, folder, "write into it", "it is not a folder");
        }
    } else {
        for (auto missing = std::filesystem::absolute(folder, error).lexically_normal();
             !missing.empty() && ::stat(missing.c_str(), &info) != 0; missing = missing.parent_path()) {
            firstMade = missing;
            if (missing == missing.parent_path()) {
                break;
            }
        }
        if (const auto made = createFolders(folder)) {
            return fileError(ErrorCode::WriteFailed, folder, "create the folder", made.value());
        }
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return fileError(ErrorCode::WriteFailed, folder, "open the folder", errno);
    }
    // Owned from here, so that a refusal also removes what was made.
    FolderLock lock(std::filesystem::absolute(folder, error).lexically_normal(), firstMade, fd);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return fileError(ErrorCode::WriteFailed, folder, "lock the folder", errno);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return Error{ErrorCode::FolderBusy, displayPath(folder) +
                                                    ": another convert, build or cut is writing into this folder; "
                                                    "run one at a time"}
                .inFile(displayPath(folder))
                .about("lock");
        }
        std::this_thread::sleep_for(kRetryInterval);
    }
    return lock;
}

}  // namespace zentrowe
