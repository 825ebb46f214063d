#include "core/base/same_file.h"

#include <system_error>

#include "core/base/file_system.h"

namespace zentrowe {

bool isSameFile(const std::filesystem::path& target, const std::filesystem::path& kept)
{
    if (sameFileOnDisk(target, kept)) {
        return true;
    }
    std::error_code error;
    // A target not there yet is the kept file when both resolve to the same path.
    const auto canonicalTarget = std::filesystem::weakly_canonical(target, error);
    if (error) {
        return false;
    }
    const auto canonicalKept = std::filesystem::weakly_canonical(kept, error);
    return !error && canonicalTarget == canonicalKept;
}

}  // namespace zentrowe
