#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/song/song_summary.h"

namespace zentrowe::song {

// Seconds from tick 0 of a song, through its tempo map: the default 120 BPM until the first Set
// Tempo, each tempo from its tick on, the last of several at one tick winning.
class TempoClock {
public:
    // `tempoMap` sorted by time as SongSummary keeps it. A division of 0 (which readers refuse
    // before anything is timed) is taken as 1, so that no time is infinite.
    TempoClock(std::int32_t ticksPerQuarter, std::span<const TempoChange> tempoMap);
    explicit TempoClock(const SongSummary& song) : TempoClock(song.ticksPerQuarter, song.tempoMap) { }

    // Seconds at `tick`; a negative tick runs the first tempo backwards.
    double seconds(std::int64_t tick) const;

    std::int32_t ticksPerQuarter() const { return m_ticksPerQuarter; }
    std::int32_t ticksPerMeasure() const { return 4 * m_ticksPerQuarter; }  // a chart measure is four quarters

private:
    struct Segment {
        std::int64_t tick = 0;
        double seconds = 0;  // at `tick`
        double secondsPerTick = 0;
    };

    std::int32_t m_ticksPerQuarter;
    std::vector<Segment> m_segments;  // never empty; the first starts at tick 0
};

}  // namespace zentrowe::song
