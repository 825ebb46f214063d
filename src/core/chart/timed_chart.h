#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/chart/chart_model.h"

namespace zentrowe::chart {

enum class ObjectKind : std::uint8_t {
    Background,     // channel 01: sounds, no lane
    Note,           // a lane's ordinary note
    LongNoteStart,  // sounds; held until its LongNoteEnd in the same lane
    LongNoteEnd,    // silent: the release of a long note
};

// An object placed in time: 24 bytes, so a chart of millions of objects stays small.
struct ChartObject {
    double seconds = 0;  // from the start of measure 0, through tempos, measure lengths and stops
    ChartCode code = 0;
    std::uint32_t line = 0;  // 1-based line of the chart that placed it (0 for a chart not in lines)
    ObjectKind kind = ObjectKind::Note;
    std::uint8_t lane = 0;  // 11..19 or 21..29 (long notes too: 51 is lane 11); 0 for the background
};

// What a player hears of a chart: every object at its time, and the file each code plays.
struct TimedChart {
    // The keysound file names indexed by code; empty where a code has no definition. At least
    // kLargestCode62 + 1 entries.
    std::vector<std::string> keysoundNames;
    std::vector<ChartObject> objects;  // in time order; objects at one time in file order
    double initialBpm = 130;
    std::int64_t ignoredLines = 0;
    std::vector<ChartProblem> problems;
};

// Places the objects of a chart read (or made) in time: tempos, measure lengths and stops as the
// chart defines them; a later line's object in a lane slot replaces an earlier one there; long
// notes paired lane by lane. Problems met (a tempo code without definition, a long note that
// never ends) are added to the reading's.
TimedChart timeChart(ChartReading reading);

// The time of the first object that sounds (any kind but LongNoteEnd), or 0 if none does.
double firstSoundSeconds(const TimedChart& chart);
// The time of the last object that sounds, or 0 if none does.
double lastSoundSeconds(const TimedChart& chart);

}  // namespace zentrowe::chart
