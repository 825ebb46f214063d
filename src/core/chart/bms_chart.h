#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/base/result.h"

namespace zentrowe::chart {

// A keysound code of a chart: "01".."ZZ" in base 36 (letters in either case), or "01".."zz" in
// base 62 after "#BASE 62". 0 ("00") is no object.
using KeysoundCode = std::uint16_t;
inline constexpr std::size_t kCodeCount = 62 * 62;

enum class ObjectKind {
    Background,     // channel 01: sounds, no lane
    Note,           // a lane's ordinary note
    LongNoteStart,  // sounds; held until its LongNoteEnd in the same lane
    LongNoteEnd,    // silent: the release of a long note
};

struct ChartObject {
    double seconds = 0;  // from the start of measure 0, through tempos, measure lengths and stops
    ObjectKind kind = ObjectKind::Note;
    int lane = 0;        // 11..19 or 21..29 (long notes too: 51 is lane 11); 0 for the background
    KeysoundCode code = 0;
    std::int64_t line = 0;  // 1-based line of the chart that placed it
};

struct ChartProblem {
    std::int64_t line = 0;  // 1-based
    std::string message;    // "measure length 0 is not above 0"
};

struct BmsChart {
    // The "#WAVxx" names as the file spells them (bytes in whatever encoding it uses), indexed by
    // code; empty where a code has no definition. kCodeCount entries.
    std::vector<std::string> keysoundNames;
    std::vector<ChartObject> objects;  // in time order; objects at one time in file order
    double initialBpm = 130;           // "#BPM"; players assume 130 without one
    std::int64_t ignoredLines = 0;     // comments, blank lines, commands and channels not read
    std::vector<ChartProblem> problems;
};

// Reads a BMS chart. Never fails: a line that cannot be read (a bad value, an odd-length channel
// line, a tempo or length that is not a positive number, an #ENDIF without #IF) is left out
// and listed in `problems` with its line number; everything else is still read. Header lines
// count wherever they stand; "#RANDOM" blocks are read as if every random number came out 1.
BmsChart readBmsChart(std::span<const std::uint8_t> bytes);

// readBmsChart on a file's bytes; CannotOpen if the file cannot be read.
Result<BmsChart> readBmsChartFile(const std::filesystem::path& path);

// The time of the first object that sounds (any kind but LongNoteEnd), or 0 if none does.
double firstSoundSeconds(const BmsChart& chart);

}  // namespace zentrowe::chart
