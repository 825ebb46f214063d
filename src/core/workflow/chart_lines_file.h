#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "core/base/result.h"
#include "core/convert/chart_line_sink.h"

namespace zentrowe::workflow {

// The chart's channel lines while the track is being converted. A chart file starts with the
// keysound definitions, which are known only once the whole track is read, so the lines wait in
// an unnamed file in the output folder (on the same disk as the chart, which can run to
// gigabytes) and are copied behind the header at the end. The file has no name from the moment
// it is created: a crash or a kill leaves nothing behind.
class ChartLinesFile final : public convert::ChartLineSink {
public:
    // `chartPath` names the chart in messages; the lines wait in its folder.
    explicit ChartLinesFile(std::filesystem::path chartPath);
    ~ChartLinesFile() override;
    ChartLinesFile(const ChartLinesFile&) = delete;
    ChartLinesFile& operator=(const ChartLinesFile&) = delete;

    // Creates the file at the first write; WriteFailed naming the chart if the folder takes no
    // file or the disk is full.
    Status write(std::string_view lines) override;

    int descriptor() const { return m_fd; }
    std::uint64_t size() const { return m_size; }

private:
    Status open();
    Error failure(int errnoValue) const;

    std::filesystem::path m_chartPath;
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

}  // namespace zentrowe::workflow
