#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/song/song_source.h"
#include "core/song/song_summary.h"
#include "core/song/track_walk.h"

namespace zentrowe::song {

// A channel event of a track other than a note: a controller, program, pressure or bend, which
// acts on every note of its channel whichever track plays it.
struct PlacedControl {
    std::int64_t tick = 0;
    std::size_t track = 0;  // 0-based, for ordering events of one tick as the file does
    ChannelEvent event;
};

// The channels some tracks strike notes on, and the tick of their last channel event.
struct TrackReach {
    std::array<bool, 16> channels{};
    std::int64_t lastTick = -1;
};

// What the tracks `tracks` accepts (by 0-based index) reach.
TrackReach reachOf(SongSource file, const SongSummary& song, const std::function<bool(std::size_t)>& tracks);

// The controls the tracks `from` accepts send on the channels of `reach`, up to its last tick, in
// the order the song plays them (by tick, then by track): what those tracks do to the notes of
// the others when the song plays whole. Controls past the last tick would act on no note.
std::vector<PlacedControl> sharedControls(SongSource file, const SongSummary& song,
                                          const std::function<bool(std::size_t)>& from, const TrackReach& reach);

}  // namespace zentrowe::song
