#include "core/workflow/chart_lines_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

#include "core/base/file_error.h"

namespace zentrowe::workflow {

ChartLinesFile::ChartLinesFile(std::filesystem::path chartPath) : m_chartPath(std::move(chartPath)) {}

ChartLinesFile::~ChartLinesFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Error ChartLinesFile::failure(int errnoValue) const
{
    return fileError(ErrorCode::WriteFailed, m_chartPath, "write", errnoValue);
}

Status ChartLinesFile::open()
{
    const auto folder = m_chartPath.has_parent_path() ? m_chartPath.parent_path() : std::filesystem::path(".");
    m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (m_fd >= 0) {
        return {};
    }
    // File systems without unnamed files: a hidden name, removed as soon as the file is open.
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto name = folder / (".zentrowe-lines-" + std::to_string(random()) + ".tmp");
        m_fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            ::unlink(name.c_str());
            return {};
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return failure(errno);
}

Status ChartLinesFile::write(std::string_view lines)
{
    if (m_fd < 0) {
        if (auto opened = open(); !opened) {
            return opened;
        }
    }
    while (!lines.empty()) {
        const ssize_t done = ::write(m_fd, lines.data(), lines.size());
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure(errno);
        }
        lines.remove_prefix(static_cast<std::size_t>(done));
        m_size += static_cast<std::uint64_t>(done);
    }
    return {};
}

}  // namespace zentrowe::workflow
