#include "core/chart/wav_names.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/native_io.h"

namespace zentrowe::chart {

namespace {

// The longest "#WAVxx name" line kept: far beyond any stem a file system takes (255 bytes).
constexpr std::size_t kLongestDefinition = 4096;

}  // namespace

Result<std::vector<std::string>> readWavNames(const std::filesystem::path& chart)
{
    auto opened = openRegularFile(chart);
    if (!opened) {
        return opened.error();
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{opened->fd};
    std::vector<std::string> names;
    std::size_t lineNumber = 1;
    std::string line;  // the start of the current line, up to kLongestDefinition bytes
    bool lineTooLong = false;
    const auto finishLine = [&]() -> Status {
        std::string_view text = line;
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
        }
        if (text.starts_with("#WAV")) {
            if (lineTooLong || text.size() < 8 || text[6] != ' ') {
                return Error{ErrorCode::InvalidSetting, displayPath(chart) + ": line " + std::to_string(lineNumber) +
                                                            " is not a \"#WAVxx name\" definition"}
                    .inFile(displayPath(chart))
                    .about("wavLine")
                    .withNumber(static_cast<std::int64_t>(lineNumber));
            }
            names.emplace_back(text.substr(7));
        }
        line.clear();
        lineTooLong = false;
        ++lineNumber;
        return {};
    };
    std::vector<char> block(1 << 16);
    for (;;) {
        const ssize_t got = ::read(opened->fd, block.data(), block.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return fileError(ErrorCode::CannotOpen, chart, "read", errno);
        }
        if (got == 0) {
            break;
        }
        const std::string_view text(block.data(), static_cast<std::size_t>(got));
        if (text.find('\0') != std::string_view::npos) {
            return Error{ErrorCode::InvalidSetting, displayPath(chart) + ": not a chart (it holds NUL bytes)"};
        }
        for (std::size_t pos = 0; pos < text.size();) {
            const std::size_t newline = text.find('\n', pos);
            const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
            const std::size_t room = kLongestDefinition - line.size();
            line.append(text.substr(pos, std::min(end - pos, room)));
            lineTooLong = lineTooLong || end - pos > room;
            if (newline == std::string_view::npos) {
                break;
            }
            if (auto done = finishLine(); !done) {
                return done.error();
            }
            pos = newline + 1;
        }
    }
    if (!line.empty()) {
        if (auto done = finishLine(); !done) {
            return done.error();
        }
    }
    return names;
}

}  // namespace zentrowe::chart
