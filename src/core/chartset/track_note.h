#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/convert/keysound_table.h"
#include "core/convert/placed_note_sink.h"
#include "core/song/timeline.h"

namespace zentrowe::chartset {

// One sounding note of the track as the playable layout and the difficulty thinning see it:
// lists of these are in time order (start tick, then note number), and what those passes return
// is one value per note, in the same order, so the caller keeps each note's keysound by index.
struct TrackNote {
    std::int64_t startTick = 0;
    std::int64_t endTick = 0;  // where the sound stops; a held note is held until here
    std::uint8_t note = 0;
    std::uint8_t velocity = 0;
    bool held = false;  // a long note (long-note mode): its lane is busy until endTick
    // Its source, in a set drawn on several parts: the part's index in the conversion's list
    // (convert::KeysoundSource) and the MIDI channel index it plays on; a drum part's strike
    // (channel index 9) keeps the percussion rules.
    std::uint16_t part = 0;
    std::uint8_t channel = 0;
    bool drums = false;
    // In a set that follows the music (chartset::candidateNotes), a note of a chosen part or one
    // taken from another where the chosen parts rest: the thinning weighs it as the melody.
    bool carries = false;
};

// The lanes of a playable layout: keys 1 to 7 are 0 to 6, then the scratch; a note in no lane
// plays from the background at its place.
inline constexpr int kKeyCount = 7;
inline constexpr int kScratchLane = 7;
inline constexpr int kBackgroundLane = -1;
// The lanes of one side; in a double-play chart the second side's lanes are the first's plus this.
inline constexpr int kSideLanes = kScratchLane + 1;

// The BMS channel of a lane, 1P side: keys 1-5 are 11-15, keys 6 and 7 are 18 and 19, the
// scratch 16; "01" (background) for kBackgroundLane and anything else.
constexpr std::string_view laneChannel(int lane)
{
    constexpr std::string_view kChannels[] = {"11", "12", "13", "14", "15", "18", "19", "16"};
    return lane >= 0 && lane <= kScratchLane ? kChannels[lane] : std::string_view("01");
}

// How long the track plays, in seconds: from the first note's start to the latest end, and at
// least one second, so that the density of a short or empty track stays finite.
double playingSeconds(std::span<const TrackNote> notes, const song::Timeline& clock);

// The notes a conversion placed (generatePlacedNotes hands them over as they end, so not in
// time order), as the layout and thinning take them: `notes` in time order, and for each the
// index of its PlacedNote, so that the lane found for notes[i] goes to placed[placedIndex[i]]
// with its keysound. A note's pitch, velocity and sounding length are its keysound's (after any
// merging); a long note (heldTicks above 0) is held for its held length. Every placed keysound
// index must be in `keysounds`.
struct PlacedTrackNotes {
    std::vector<TrackNote> notes;
    std::vector<std::size_t> placedIndex;
};
PlacedTrackNotes trackNotesOf(std::span<const convert::PlacedNote> placed, const convert::KeysoundTable& keysounds);

}  // namespace zentrowe::chartset
