#pragma once

#include <filesystem>

#include "core/base/result.h"
#include "core/chart/timed_chart.h"

namespace zentrowe::chart {

// True for a name ending in ".bmson" (any case).
bool isBmsonPath(const std::filesystem::path& path);

// True for the names players take as charts: ".bms", ".bme", ".bml", ".pms", ".bmson" (any case).
bool isChartPath(const std::filesystem::path& path);

// Reads a chart file in its format (bmson for ".bmson", else BMS) and places its objects in
// time. CannotOpen if the file cannot be read or is not a bmson chart, and for a chart that
// holds no object at all (nothing to hear or play: an empty file, a text that is no chart);
// the readers' other refusals.
Result<TimedChart> readChartFile(const std::filesystem::path& path);

}  // namespace zentrowe::chart
