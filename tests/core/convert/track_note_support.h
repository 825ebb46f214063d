#pragma once

// Note lists for the layout, thinning and level tests, built by hand or generated.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/convert/track_note.h"
#include "core/song/tempo_clock.h"

namespace zentrowe::testing {

using convert::TrackNote;

inline constexpr std::int32_t kQuarter = 480;
inline constexpr std::int32_t kBar = 4 * kQuarter;

inline TrackNote note(std::int64_t start, std::int64_t length, int pitch, int velocity = 90, bool held = false)
{
    return {start, start + length, static_cast<std::uint8_t>(pitch), static_cast<std::uint8_t>(velocity), held};
}

// In the order the passes expect: start tick, then note number.
inline std::vector<TrackNote> inTimeOrder(std::vector<TrackNote> notes)
{
    std::stable_sort(notes.begin(), notes.end(), [](const TrackNote& a, const TrackNote& b) {
        return a.startTick != b.startTick ? a.startTick < b.startTick : a.note < b.note;
    });
    return notes;
}

// 120 BPM at 480 ticks per quarter: 960 ticks a second.
inline song::TempoClock clock120()
{
    return song::TempoClock(kQuarter, {});
}

// 240 BPM: a quarter is 0.25 s, a 16th (120 ticks) 62.5 ms.
inline song::TempoClock clock240()
{
    const std::vector<song::TempoChange> fast{{250000, 0}};
    return song::TempoClock(kQuarter, fast);
}

// Under clock240: a run of 16ths (16 notes a second) up and down an octave and a half, with a
// 5-note chord under every beat, `bars` measures of one second each. Held chords make every
// chord a long note lasting the beat.
inline std::vector<TrackNote> denseTrack(int bars, bool heldChords = false)
{
    static constexpr int kScale[] = {72, 74, 76, 77, 79, 81, 83, 84, 86, 88, 89, 91};
    static constexpr int kChords[][5] = {{48, 52, 55, 60, 64}, {53, 57, 60, 65, 69}, {55, 59, 62, 67, 71},
                                         {48, 55, 60, 64, 67}};
    std::vector<TrackNote> notes;
    const int runLength = 2 * static_cast<int>(std::size(kScale)) - 2;
    for (int step = 0; step < bars * 16; ++step) {
        const int at = step % runLength;
        const int index = at < static_cast<int>(std::size(kScale)) ? at : runLength - at;
        const std::int64_t start = std::int64_t{step} * (kQuarter / 4);
        notes.push_back(note(start, kQuarter / 4 - 10, kScale[index], step % 4 == 0 ? 100 : 80));
        if (step % 4 == 0) {
            for (const int pitch : kChords[(step / 4) % 4]) {
                notes.push_back(note(start, kQuarter - 20, pitch, 70, heldChords));
            }
        }
    }
    return inTimeOrder(notes);
}

}  // namespace zentrowe::testing
