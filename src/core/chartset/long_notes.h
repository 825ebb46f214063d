#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/base/result.h"
#include "core/chartset/track_note.h"
#include "core/song/timeline.h"

namespace zentrowe::chartset {

// How long a long note must be, in the unit the player gave: seconds hold whatever the tempo,
// beats (quarter notes) follow it.
struct LongNoteLength {
    enum class Unit { Seconds, Beats };
    double value = 0.2;
    Unit unit = Unit::Seconds;
};

// What a long note must leave the player: held at least kLeastLongNoteSeconds (and `minimum`,
// when longer), and kReleaseGapSeconds from its release to the next press in its lane, since a
// press that close after a release reads as one motion and is judged early.
inline constexpr double kLeastLongNoteSeconds = 0.2;
inline constexpr double kReleaseGapSeconds = 0.08;

// A --long-min value with its unit written out: "0.3s", "300ms", "1beat" or "1.5beats" (spaces
// between number and unit allowed). Nothing for text without one of those units (the unitless
// number keeps its meaning for the conversion, 1/192 of a measure) or a number not above 0.
std::optional<LongNoteLength> parseLongNoteLength(std::string_view text);

// The notes of a chart (lanes from layoutLanes, one per note) with their long notes fitted: a
// held lane note shorter than the minimum becomes a normal note; one released less than
// kReleaseGapSeconds before the next press in its lane ends that much earlier, or becomes a
// normal note if that leaves it too short. Notes in the background are returned as they are.
// Lane lists of another length return `notes` unchanged.
std::vector<TrackNote> fitLongNotes(std::span<const TrackNote> notes, std::span<const int> lanes,
                                    const song::Timeline& clock, const LongNoteLength& minimum);

}  // namespace zentrowe::chartset
