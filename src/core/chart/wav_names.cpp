#include "core/chart/wav_names.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/native_io.h"
#include "core/chart/bms_line.h"

namespace zentrowe::chart {

namespace {

// The longest "#WAVxx name" line kept: far beyond any stem a file system takes (255 bytes).
constexpr std::size_t kLongestDefinition = 4096;

// The names of the "#WAVxx name" lines of a chart fed to it in blocks of any size. Lines end as
// the chart reader ends them (LF, CR LF, CR alone), so that line numbers agree with its own.
class WavNameCollector {
public:
    explicit WavNameCollector(const std::filesystem::path& chart) : m_chart(chart) { }

    Status feed(std::string_view text)
    {
        for (std::size_t pos = 0; pos < text.size();) {
            if (m_afterCr && text[pos] == '\n') {
                m_afterCr = false;  // the LF of a CR LF
                ++pos;
                continue;
            }
            m_afterCr = false;
            const std::size_t lineEnd = text.find_first_of("\r\n", pos);
            const std::size_t end = lineEnd == std::string_view::npos ? text.size() : lineEnd;
            const std::size_t room = kLongestDefinition - m_line.size();
            m_line.append(text.substr(pos, std::min(end - pos, room)));
            m_lineTooLong = m_lineTooLong || end - pos > room;
            if (lineEnd == std::string_view::npos) {
                break;
            }
            if (auto done = finishLine(); !done) {
                return done;
            }
            m_afterCr = text[lineEnd] == '\r';
            pos = lineEnd + 1;
        }
        return {};
    }

    // The last line, if the chart does not end with a line end.
    Status finish() { return m_line.empty() ? Status{} : finishLine(); }

    std::vector<std::string> take() { return std::move(m_names); }

private:
    Status finishLine()
    {
        const BmsLine scanned = scanBmsLine(m_line);
        if (scanned.kind == BmsLine::Kind::Command && scanned.command.starts_with("WAV")) {
            if (m_lineTooLong || scanned.command.size() != 5 || scanned.argument.empty()) {
                return Error{ErrorCode::InvalidSetting, displayPath(m_chart) + ": line " +
                                                            std::to_string(m_lineNumber) +
                                                            " is not a \"#WAVxx name\" definition"}
                    .inFile(displayPath(m_chart))
                    .about("wavLine")
                    .withNumber(static_cast<std::int64_t>(m_lineNumber));
            }
            m_names.emplace_back(scanned.argument);
        }
        m_line.clear();
        m_lineTooLong = false;
        ++m_lineNumber;
        return {};
    }

    const std::filesystem::path& m_chart;
    std::vector<std::string> m_names;
    std::size_t m_lineNumber = 1;
    std::string m_line;  // the start of the current line, up to kLongestDefinition bytes
    bool m_lineTooLong = false;
    bool m_afterCr = false;  // the last line ended in CR, which an LF may follow
};

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
    WavNameCollector names(chart);
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
        if (auto fed = names.feed(text); !fed) {
            return fed.error();
        }
    }
    if (auto finished = names.finish(); !finished) {
        return finished.error();
    }
    return names.take();
}

}  // namespace zentrowe::chart
