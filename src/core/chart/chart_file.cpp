#include "core/chart/chart_file.h"

#include <algorithm>

#include "core/base/file_error.h"
#include "core/chart/bms_reader.h"
#include "core/chart/bmson_reader.h"

namespace zentrowe::chart {

bool isBmsonPath(const std::filesystem::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".bmson";
}

bool isChartPath(const std::filesystem::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".bms" || extension == ".bme" || extension == ".bml" || extension == ".pms" ||
           extension == ".bmson";
}

Result<TimedChart> readChartFile(const std::filesystem::path& path)
{
    auto reading = isBmsonPath(path) ? readBmsonFile(path) : readBmsFile(path);
    if (!reading) {
        return reading.error();
    }
    auto timed = timeChart(std::move(reading).value());
    if (timed.objects.empty()) {
        return Error{ErrorCode::CannotOpen,
                     displayPath(path) + ": the chart holds no object to hear or play, so there is nothing to mix"}
            .inFile(displayPath(path))
            .about("chart");
    }
    return timed;
}

}  // namespace zentrowe::chart
