#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "core/base/result.h"
#include "core/chart/chart_model.h"

namespace zentrowe::chart {

// Reads a bmson chart into the chart model: the info block into the header, the bar lines into
// measures (their lengths where they are not four beats), tempo and stop events into
// definitions and channel lines, and each sound channel into one keysound code (1 for the first)
// whose notes lie in lanes (x 0 in the background; a note with a length is a long note). Notes,
// events and fields it cannot read are left out and listed as problems (line 0).
// CannotOpen (the text is not JSON, or not a bmson object) naming `name`; MeasureOutOfRange for
// a time past a million measures, which no chart needs.
Result<ChartReading> readBmson(std::span<const std::uint8_t> bytes, const std::string& name);

// readBmson on a file's bytes; CannotOpen if the file cannot be read.
Result<ChartReading> readBmsonFile(const std::filesystem::path& path);

}  // namespace zentrowe::chart
