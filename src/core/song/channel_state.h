#pragma once

#include <array>
#include <cstdint>

#include "core/song/track_walk.h"

namespace zentrowe::song {

// What a synthesiser's channel holds besides its sounding keys: everything that shapes how a note
// struck on it sounds. Defaults are General MIDI's after a reset.
struct ChannelState {
    std::uint8_t program = 0;
    std::uint8_t bankMsb = 0;             // controller 0
    std::uint8_t bankLsb = 0;             // controller 32
    std::uint8_t modulation = 0;          // controller 1
    std::uint8_t volume = 100;            // controller 7
    std::uint8_t pan = 64;                // controller 10; 0 left, 64 centre, 127 right
    std::uint8_t expression = 127;        // controller 11
    bool sustain = false;                 // controller 64 at 64 or above
    std::uint8_t pressure = 0;            // channel pressure
    std::uint16_t pitchBend = 8192;       // 14 bits, 8192 the centre
    std::uint8_t bendRangeSemitones = 2;  // registered parameter 0, data entry MSB
    std::uint8_t bendRangeCents = 0;      // its data entry LSB

    // The bank as a synthesiser selects it: MSB × 128 + LSB.
    int bank() const { return bankMsb * 128 + bankLsb; }
    // Pitch bend in semitones, through the bend range in force.
    double bendSemitones() const { return (pitchBend - 8192) / 8192.0 * (bendRangeSemitones + bendRangeCents / 100.0); }

    friend bool operator==(const ChannelState&, const ChannelState&) = default;
};

// The General MIDI drum channel, channel 10.
constexpr int kDrumChannelIndex = 9;

// What a synthesiser plays a channel's notes with: the program, the bank the last bank select
// (controller 0) chose, or the drum kit on the drum channel, where a synthesiser ignores bank
// select (the kit is chosen by program alone) and the bank is always 0.
struct ChannelInstrument {
    int bank = 0;              // 0 to 127
    std::uint8_t program = 0;  // 0 to 127
    bool drums = false;

    friend bool operator==(const ChannelInstrument&, const ChannelInstrument&) = default;
};

// The instrument a note struck on `channel` (0 to 15) plays with while the channel is in `state`.
ChannelInstrument instrumentOf(const ChannelState& state, int channel);

// The state of all sixteen channels as a track's events change it, in the order a synthesiser
// applies them. Registered parameters are followed so that data entry reaches only the pitch bend
// range; non-registered parameters select nothing we keep.
class ChannelStates {
public:
    void apply(const ChannelEvent& event);
    const ChannelState& operator[](int channel) const { return m_states[static_cast<std::size_t>(channel & 0x0F)]; }
    // The instrument a note struck now on `channel` (0 to 15) plays with.
    ChannelInstrument instrument(int channel) const;

private:
    void applyController(std::size_t channel, std::uint8_t number, std::uint8_t value);

    static constexpr std::uint16_t kNoParameter = 0x3FFF;
    std::array<ChannelState, 16> m_states{};
    std::array<std::uint16_t, 16> m_parameter = makeParameters();

    static constexpr std::array<std::uint16_t, 16> makeParameters()
    {
        std::array<std::uint16_t, 16> parameters{};
        parameters.fill(kNoParameter);
        return parameters;
    }
};

}  // namespace zentrowe::song
