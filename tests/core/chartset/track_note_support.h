#pragma once

// Note lists for the layout, thinning and level tests.

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "core/chartset/track_note.h"
#include "core/song/timeline.h"

namespace zentrowe::testing {

using chartset::TrackNote;

inline constexpr std::int32_t kQuarter = 480;
inline constexpr std::int32_t kBar = 4 * kQuarter;

inline TrackNote note(std::int64_t start, std::int64_t length, int pitch, int velocity = 90, bool held = false)
{
    return {start, start + length, static_cast<std::uint8_t>(pitch), static_cast<std::uint8_t>(velocity), held};
}

// By start tick, then note number, as the passes expect.
inline std::vector<TrackNote> inTimeOrder(std::vector<TrackNote> notes)
{
    std::stable_sort(notes.begin(), notes.end(), [](const TrackNote& a, const TrackNote& b) {
        return a.startTick != b.startTick ? a.startTick < b.startTick : a.note < b.note;
    });
    return notes;
}

inline song::Timeline clock120()  // 960 ticks a second
{
    return song::Timeline(kQuarter, {});
}

inline song::Timeline clock240()  // a 16th (120 ticks) is 62.5 ms
{
    const std::vector<song::TempoChange> fast{{250000, 0}};
    return song::Timeline(kQuarter, fast);
}

// Under clock240, `bars` seconds of 16ths (16 a second) up and down an octave and a half over a
// 5-note chord on every beat; held chords are long notes lasting the beat.
inline std::vector<TrackNote> denseTrack(int bars, bool heldChords = false)
{
    static constexpr int kScale[] = {72, 74, 76, 77, 79, 81, 83, 84, 86, 88, 89, 91};
    static constexpr int kChords[][5] = {{48, 52, 55, 60, 64}, {53, 57, 60, 65, 69}, {55, 59, 62, 67, 71}, {48, 55, 60, 64, 67}};
    std::vector<TrackNote> notes;
    for (int step = 0; step < bars * 16; ++step) {
        const int at = step % 22;  // up 12 notes and down 10
        const std::int64_t start = std::int64_t{step} * (kQuarter / 4);
        notes.push_back(note(start, kQuarter / 4 - 10, kScale[at < 12 ? at : 22 - at], step % 4 == 0 ? 100 : 80));
        for (const int pitch : step % 4 == 0 ? kChords[(step / 4) % 4] : std::span<const int>{}) {
            notes.push_back(note(start, kQuarter - 20, pitch, 70, heldChords));
        }
    }
    return inTimeOrder(notes);
}

}  // namespace zentrowe::testing
