#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace zentrowe::convert {

// One note as the generator placed it, in the song's own ticks: what a chart format with exact
// times needs, where the BMS text floors starts to slots.
struct PlacedNote {
    std::int64_t startTick = 0;
    std::optional<int> lane;     // 0 to kLanes - 1 (the order of kLaneChannels); none: background
    std::size_t keysound = 0;    // index in the conversion's keysound table
    std::int64_t heldTicks = 0;  // a long note's held length; 0 for every other note
};

// Told of every note the generator places, in the order it places them (a note is placed when
// it ends in plain and long-note mode, so not in start order).
class PlacedNoteSink {
public:
    virtual ~PlacedNoteSink() = default;
    virtual void notePlaced(const PlacedNote& note) = 0;
};

}  // namespace zentrowe::convert
