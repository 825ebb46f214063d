#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/chart/chart_model.h"
#include "core/chartset/track_note.h"

namespace zentrowe::chartset {

// The grids a song's notes may keep to: 16ths, 16th triplets (24 a measure) and 32nds, each a
// number of lines in a 4/4 measure.
inline constexpr std::array<std::uint32_t, 3> kNoteGrids = {16, 24, 32};

// How a converted chart's notes (its lane and long-note objects) sit on the grids.
struct GridFit {
    std::array<double, kNoteGrids.size()> offShare{};  // share of notes off each grid, in kNoteGrids order
    std::int64_t notes = 0;
    // More than kPerformanceShare of the notes off every grid: a recording of someone playing,
    // with no tempo map to follow the playing, whose chart a player cannot read by the beat.
    bool performance = false;
    // How far, in seconds on average, moving the lane notes to each grid moves them in the song's
    // time (kNoteGrids order); filled by makeChartSet, which knows the tempo map.
    std::array<double, kNoteGrids.size()> meanShiftSeconds{};
};
inline constexpr double kPerformanceShare = 0.5;

// Moving notes by more than this on average puts the chart audibly out of time with the song:
// a build's check finds it late or early, and it sounds less like the track.
inline constexpr double kQuantizeShiftLimitSeconds = 0.010;

// The grids (of kNoteGrids) worth moving a performance's notes to: those that move them by at
// most kQuantizeShiftLimitSeconds on average. None for a track that keeps to a grid already.
std::vector<std::uint32_t> advisedQuantizeGrids(const GridFit& fit);

// A note is on a grid when it lies within an eighth of the grid's step of one of its lines:
// closer than a player can tell, and far enough that a played note rarely falls there by chance.
// A strum (notes within 1/64 of a measure of the one before) counts as its first note.
GridFit gridFit(const chart::Chart& converted);

// The same for a track's notes (their start ticks, measures of ticksPerMeasure).
GridFit gridFit(std::span<const TrackNote> notes, std::int32_t ticksPerMeasure);

// The tick of the line of `grid` (lines per measure) nearest to `tick`.
std::int64_t nearestGridTick(std::int64_t tick, std::int32_t ticksPerMeasure, std::uint32_t grid);

// A --quantize value: 16, 24 or 32; nothing for anything else.
std::optional<std::uint32_t> parseQuantizeGrid(std::string_view text);

// The line of `grid` (lines per measure) nearest to the point `slot` of `slotCount` in `measure`,
// as (measure, line); a point nearer the next measure's first line goes there.
std::pair<std::int32_t, std::uint32_t> nearestGridLine(std::int32_t measure, std::uint32_t slot,
                                                       std::uint32_t slotCount, std::uint32_t grid);

}  // namespace zentrowe::chartset
