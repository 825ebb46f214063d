#pragma once

#include <chrono>
#include <filesystem>

#include "core/base/result.h"

namespace zentrowe {

// An advisory lock (flock) on an output folder, held by a pass that writes there so that a
// second pass started on the same folder meanwhile cannot interleave its files with ours. The
// folder (with its missing parents) is made when absent, and removed again when the lock is
// released if it is still empty: a refused pass leaves no new empty folder behind.
class FolderLock {
public:
    // The lock, taken within `wait`; FolderBusy naming the folder if another pass holds it for
    // longer; WriteFailed if the folder cannot be made or opened, or a file has its name.
    static Result<FolderLock> acquire(const std::filesystem::path& folder,
                                      std::chrono::milliseconds wait = std::chrono::milliseconds(2000));

    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&&) = delete;
    FolderLock(const FolderLock&) = delete;
    ~FolderLock();

    const std::filesystem::path& folder() const { return m_folder; }

private:
    FolderLock(std::filesystem::path folder, std::filesystem::path firstMade, int fd);

    std::filesystem::path m_folder;
    std::filesystem::path m_firstMade;  // the highest folder acquire() made; empty if none
    int m_fd = -1;
};

}  // namespace zentrowe
