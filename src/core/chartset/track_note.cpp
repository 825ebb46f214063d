#include "core/chartset/track_note.h"

#include <algorithm>
#include <cassert>
#include <numeric>

namespace zentrowe::chartset {

double playingSeconds(std::span<const TrackNote> notes, const song::Timeline& clock)
{
    if (notes.empty()) {
        return 1.0;
    }
    std::int64_t lastEnd = notes.front().startTick;
    for (const TrackNote& note : notes) {
        lastEnd = std::max({lastEnd, note.startTick, note.endTick});
    }
    return std::max(1.0, clock.seconds(lastEnd) - clock.seconds(notes.front().startTick));
}

PlacedTrackNotes trackNotesOf(std::span<const convert::PlacedNote> placed, const convert::KeysoundTable& keysounds)
{
    PlacedTrackNotes out;
    out.notes.reserve(placed.size());
    for (const convert::PlacedNote& note : placed) {
        assert(note.keysound < keysounds.size());
        const convert::KeysoundEntry& sound = keysounds[note.keysound];
        const bool held = note.heldTicks > 0;
        out.notes.push_back({note.startTick, note.startTick + (held ? note.heldTicks : sound.duration), sound.note,
                             sound.velocity, held});
    }
    out.placedIndex.resize(placed.size());
    std::iota(out.placedIndex.begin(), out.placedIndex.end(), std::size_t{0});
    std::stable_sort(out.placedIndex.begin(), out.placedIndex.end(), [&](std::size_t a, std::size_t b) {
        const TrackNote& x = out.notes[a];
        const TrackNote& y = out.notes[b];
        return x.startTick != y.startTick ? x.startTick < y.startTick : x.note < y.note;
    });
    std::vector<TrackNote> ordered;
    ordered.reserve(placed.size());
    for (const std::size_t index : out.placedIndex) {
        ordered.push_back(out.notes[index]);
    }
    out.notes = std::move(ordered);
    return out;
}

}  // namespace zentrowe::chartset
