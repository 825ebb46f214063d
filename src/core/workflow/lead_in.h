#pragma once

#include <cstdint>

#include "core/chart/chart_model.h"

namespace zentrowe::workflow {

// Players and folder checkers want time to get ready before the first object: at least one empty
// measure and at least this many seconds.
inline constexpr double kLeastLeadInSeconds = 1.5;

// BMS numbers measures with three digits.
inline constexpr std::int32_t kLastBmsMeasure = 999;

// The whole measures to put before the chart so that its first object (of any channel that
// sounds) lies in measure 1 or later and at kLeastLeadInSeconds or later: 0 when it already
// does or the chart has no object. The measures added are of four beats at the chart's initial
// tempo. No more than leave the last measure at `lastMeasure`.
std::int32_t leadInMeasures(const chart::Chart& chart, std::int32_t lastMeasure = kLastBmsMeasure);

// Moves every line and measure length of the chart `measures` measures later: objects, tempo
// changes, stops and measure lengths keep their places relative to each other and the music.
void addLeadIn(chart::Chart& chart, std::int32_t measures);

}  // namespace zentrowe::workflow
