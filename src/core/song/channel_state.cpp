#include "core/song/channel_state.h"

namespace zentrowe::song {

namespace {

constexpr std::uint16_t kBendRangeParameter = 0;

// Data bytes above 0x7F come only from damaged files; a synthesiser keeps the low seven bits.
constexpr std::uint8_t sevenBits(std::uint8_t value)
{
    return static_cast<std::uint8_t>(value & 0x7F);
}

}  // namespace

void ChannelStates::apply(const ChannelEvent& event)
{
    const std::size_t channel = event.channel();
    ChannelState& state = m_states[channel];
    std::uint16_t& parameter = m_parameter[channel];
    const std::uint8_t value = sevenBits(event.data2);
    switch (event.kind()) {
    case 0xC0:
        state.program = sevenBits(event.data1);
        return;
    case 0xD0:
        state.pressure = sevenBits(event.data1);
        return;
    case 0xE0:
        state.pitchBend = static_cast<std::uint16_t>(sevenBits(event.data1) | (value << 7));
        return;
    case 0xB0:
        break;
    default:
        return;
    }
    switch (sevenBits(event.data1)) {
    case 0:
        state.bankMsb = value;
        break;
    case 32:
        state.bankLsb = value;
        break;
    case 1:
        state.modulation = value;
        break;
    case 7:
        state.volume = value;
        break;
    case 10:
        state.pan = value;
        break;
    case 11:
        state.expression = value;
        break;
    case 64:
        state.sustain = value >= 64;
        break;
    case 101:
        parameter = static_cast<std::uint16_t>((value << 7) | (parameter & 0x7F));
        break;
    case 100:
        parameter = static_cast<std::uint16_t>((parameter & 0x3F80) | value);
        break;
    case 99:
    case 98:
        parameter = kNoParameter;  // a non-registered parameter: data entry changes nothing kept
        break;
    case 6:
        if (parameter == kBendRangeParameter) {
            state.bendRangeSemitones = value;
        }
        break;
    case 38:
        if (parameter == kBendRangeParameter) {
            state.bendRangeCents = value;
        }
        break;
    case 121: {
        // Reset All Controllers leaves program, bank, volume and pan as they are.
        const ChannelState defaults;
        state.modulation = defaults.modulation;
        state.expression = defaults.expression;
        state.sustain = false;
        state.pressure = 0;
        state.pitchBend = defaults.pitchBend;
        parameter = kNoParameter;
        break;
    }
    default:
        break;
    }
}

}  // namespace zentrowe::song
