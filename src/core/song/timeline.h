#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/song/song_summary.h"

namespace zentrowe::song {

// A song's time: ticks to seconds and to sample frames through its tempo map, the default 120 BPM
// until the first Set Tempo, each tempo from its tick on, the last of several at one tick winning.
// Every pass that times a tick (render lengths, chart and background times, mixing, checking,
// cutting) asks one of these, so that they all agree to the frame.
class Timeline {
public:
    // `tempoMap` sorted by time as SongSummary keeps it. A division of 0 (which readers refuse
    // before anything is timed) is taken as 1, so that no time is infinite.
    Timeline(std::int32_t ticksPerQuarter, std::span<const TempoChange> tempoMap);
    explicit Timeline(const SongSummary& song) : Timeline(song.ticksPerQuarter, song.tempoMap) { }

    // One tempo from tick 0 on: the time of "K-Midi.mid", which holds a single Set Tempo.
    static Timeline steady(std::int32_t ticksPerQuarter, std::uint32_t tempoMicros);

    // Seconds at `tick`; a negative tick runs the first tempo backwards.
    double seconds(std::int64_t tick) const;
    // Seconds from `fromTick` to `toTick`, under every tempo between them (negative if toTick
    // comes first).
    double seconds(std::int64_t fromTick, std::int64_t toTick) const { return seconds(toTick) - seconds(fromTick); }

    // The frame nearest to the tick's time at `sampleRate` frames a second; times past ±2^62
    // frames (far beyond any rendering) are held there rather than overflowing.
    std::int64_t frame(std::int64_t tick, int sampleRate) const;
    // Frames from `fromTick` to `toTick`: the difference of their frames, so that sounds placed
    // by frame and cut by length meet without a gap.
    std::int64_t frames(std::int64_t fromTick, std::int64_t toTick, int sampleRate) const
    {
        return frame(toTick, sampleRate) - frame(fromTick, sampleRate);
    }

    // How many ticks of a steady `tempoMicros` last as long as `fromTick` to `toTick` do here,
    // rounded to the nearest: a span under that tempo alone keeps its tick count exactly, one
    // that crosses a faster tempo gets fewer. 0 when toTick is not after fromTick; at most 2^62.
    std::int64_t ticksAtTempo(std::int64_t fromTick, std::int64_t toTick, std::uint32_t tempoMicros) const;

    std::int32_t ticksPerQuarter() const { return m_ticksPerQuarter; }
    std::int32_t ticksPerMeasure() const { return 4 * m_ticksPerQuarter; }  // a chart measure is four quarters

private:
    struct Segment {
        std::int64_t tick = 0;
        double seconds = 0;  // at `tick`
        std::uint32_t tempoMicros = kDefaultTempoMicros;
    };

    double secondsInto(const Segment& segment, std::int64_t tick) const;
    const Segment& segmentAt(std::int64_t tick) const;

    std::int32_t m_ticksPerQuarter;
    std::vector<Segment> m_segments;  // never empty; the first starts at tick 0
};

}  // namespace zentrowe::song
