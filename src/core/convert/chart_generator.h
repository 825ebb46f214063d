#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/convert/keysound_table.h"
#include "core/convert/settings.h"
#include "core/song/song_summary.h"

namespace zentrowe::convert {

// A chart built in memory: the whole text of the ".bms" file and the keysounds it defines.
struct Chart {
    std::string text;  // ASCII, CR LF line ends
    KeysoundTable keysounds;
};

// The same chart as pieces that, written one after the other, make the ".bms" file: a chart in
// long-note mode can run to hundreds of megabytes, which are written out without ever being one
// string.
struct ChartPieces {
    std::vector<std::string> pieces;
    KeysoundTable keysounds;
};

// Converts one track (1-based) of a song whose bytes are `file` and whose summary is `song`,
// in the mode of `settings`, and builds the chart file's text. Writes nothing.
// Refusals: TrackOutOfRange, UnsupportedDivision (division 0), CodesExhausted,
// MeasureOutOfRange, Cancelled (the sink asked to stop); see runConversion.
Result<Chart> generateChart(std::span<const std::uint8_t> file, const song::SongSummary& song, int trackNumber,
                            const ConversionSettings& settings, ProgressSink& progress);

// generateChart without joining the text: same refusals.
Result<ChartPieces> generateChartPieces(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                        int trackNumber, const ConversionSettings& settings, ProgressSink& progress);

}  // namespace zentrowe::convert
