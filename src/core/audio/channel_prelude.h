#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/audio/synth_renderer.h"

namespace zentrowe::audio {

// The channel events a fresh synthesiser must be sent to stand where a run of a song's events
// has left its channels, without the run's history: of the events added, those no later event
// undoes, in the order they came. A pitch bend, channel pressure, program change, a key's
// pressure or a controller is undone by the next one of its kind on its channel (Omni Off/On and
// Mono/Poly by the other of their pair), so each leaves at most one event per channel; a bank
// select stays also where the last program change read it. Parameter selections and data entry
// (controllers 6, 38, 96 to 101) act through one another and are all kept, as is the last Reset
// All Controllers before each of them. Notes are not channel state and are left out.
class ChannelPrelude {
public:
    ChannelPrelude();

    void add(const TimedEvent& event);

    // The events that set the state reached, each at frame 0.
    std::vector<TimedEvent> events() const;

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;

    struct Entry {
        std::uint8_t status = 0;
        std::uint8_t data1 = 0;
        std::uint8_t data2 = 0;
        bool superseded = false;                           // a later event of its kind undid it
        bool removed = false;                              // superseded and read by nothing kept
        std::uint32_t readers = 0;                         // kept events that need it before them
        std::array<std::uint32_t, 2> reads{kNone, kNone};  // entries this one needs before it
    };

    std::uint32_t append(const TimedEvent& event);
    void read(std::uint32_t reader, int slot, std::size_t which);
    void supersede(std::uint32_t index);
    void remove(std::uint32_t index);
    void compact();

    std::vector<Entry> m_entries;
    std::vector<std::uint32_t> m_live;  // by channel and slot: the entry in force, or kNone
    std::size_t m_removed = 0;
};

}  // namespace zentrowe::audio
