#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "core/base/result.h"
#include "core/chart/chart_model.h"
#include "core/chart/timed_chart.h"

namespace zentrowe::chart {

// Reads a BMS chart into the chart model. Never fails: a line that cannot be read (a bad value,
// an odd-length channel line, a length that is not a positive number, an #ENDIF without #IF) is
// left out and listed in `problems` with its line number; everything else is still read. Lines
// end in LF, CR LF or CR alone; a chart in UTF-16 with its byte-order mark is read as the same
// text in UTF-8. Header lines count wherever they stand; "#RANDOM" blocks are read as if every
// random number came out 1. Channel lines keep only their objects, a few bytes each.
ChartReading readBms(std::span<const std::uint8_t> bytes);

// readBms placed in time.
TimedChart readBmsChart(std::span<const std::uint8_t> bytes);

// readBms on a file's bytes; CannotOpen if the file cannot be read.
Result<ChartReading> readBmsFile(const std::filesystem::path& path);

}  // namespace zentrowe::chart
