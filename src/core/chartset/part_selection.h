#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/chartset/track_note.h"

namespace zentrowe::chartset {

// What a part does in the song, as the lanes of a set drawn on several parts weigh it.
enum class PartRole {
    Melody,  // the first part named that is neither drums nor bass: what a listener follows
    Drums,   // its notes on the drum channel
    Bass,    // its notes lie low: the median below kBassMedianNote
    Other,   // harmony, pads, a second melodic part
};

inline constexpr std::uint8_t kBassMedianNote = 48;  // C3

// The role of each part (by TrackNote::part; parts without notes get Other).
std::vector<PartRole> partRoles(std::span<const TrackNote> notes);

// True if the notes come from more than one part.
bool drawsOnSeveralParts(std::span<const TrackNote> notes);

// Which notes a chart takes first, when the lanes draw on several parts: tier 0 the melody (and
// the notes that carry the music where the chosen parts rest, TrackNote::carries), tier
// 1 the accents of drums and bass (a strike on a beat, or velocity kAccentVelocity and above),
// tier 2 the rest. Within a tier, by noteWeight with the top voice of each part's chord.
struct PartTiers {
    std::vector<int> tierOf;         // per note
    std::vector<std::size_t> order;  // note indices, tier by tier, heavier first
};
PartTiers tierNotes(std::span<const TrackNote> notes, std::int32_t ticksPerMeasure);

// The share of a chart's notes each tier may take before the others have had theirs: the
// melody up to 60 %, the accents up to 30 %; what is left is then filled in the same order.
inline constexpr double kTierShares[] = {0.6, 0.3, 0.1};

}  // namespace zentrowe::chartset
