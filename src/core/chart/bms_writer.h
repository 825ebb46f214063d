#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/base/atomic_file_writer.h"
#include "core/base/result.h"
#include "core/chart/chart_model.h"

namespace zentrowe::chart {

// Receives the chart text a block at a time (a megabyte at most past the longest line).
using ChartTextSink = std::function<Status(std::string_view)>;

// Writes the chart as BMS text with CR LF line ends, in this order: "#BASE 62" when the codes
// are in base 62; the header fields set (#PLAYER, #GENRE, #TITLE, #SUBTITLE, #ARTIST, #BPM,
// #PLAYLEVEL, #RANK, #TOTAL, #DIFFICULTY, #VOLWAV, #PREVIEW, #LNTYPE, #LNOBJ); then two empty
// lines, the tempo definitions, two empty lines, the keysound definitions, two empty lines, the
// stop definitions and measure lengths when there are any, and the channel lines in the model's
// order, each slot written, each line followed by its empty lines. A header value is kept on its
// line (line breaks become spaces). CodesExhausted if a code does not fit two characters of the
// chart's base; else the sink's first failure, after which nothing more is handed to it.
Status writeBms(const Chart& chart, const ChartTextSink& sink);

// writeBms into a file being written.
Status writeBms(const Chart& chart, AtomicFileWriter& file);

// writeBms into memory, for charts known to be small.
Result<std::string> bmsText(const Chart& chart);

}  // namespace zentrowe::chart
