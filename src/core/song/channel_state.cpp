#include "core/song/channel_state.h"

namespace zentrowe::song {

namespace {

constexpr std::uint16_t kBendRangeParameter = 0;

// Data bytes above 0x7F come only from damaged files; a synthesiser keeps the low seven bits.
constexpr std::uint8_t sevenBits(std::uint8_t value)
{
    return static_cast<std::uint8_t>(value & 0x7F);
}

// Controllers that set one field of the state; false for any other controller number.
bool applyPlainController(ChannelState& state, std::uint8_t number, std::uint8_t value)
{
    switch (number) {
    case 0:
        state.bankMsb = value;
        return true;
    case 32:
        state.bankLsb = value;
        return true;
    case 1:
        state.modulation = value;
        return true;
    case 7:
        state.volume = value;
        return true;
    case 10:
        state.pan = value;
        return true;
    case 11:
        state.expression = value;
        return true;
    case 64:
        state.sustain = value >= 64;
        return true;
    default:
        return false;
    }
}

}  // namespace

void ChannelStates::apply(const ChannelEvent& event)
{
    ChannelState& state = m_states[event.channel()];
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
        applyController(event.channel(), sevenBits(event.data1), value);
        return;
    default:
        return;
    }
}

ChannelInstrument instrumentOf(const ChannelState& state, int channel)
{
    const bool drums = (channel & 0x0F) == kDrumChannelIndex;
    return {drums ? 0 : state.bankMsb, state.program, drums};
}

ChannelInstrument ChannelStates::instrument(int channel) const
{
    return instrumentOf((*this)[channel], channel);
}

void ChannelStates::applyController(std::size_t channel, std::uint8_t number, std::uint8_t value)
{
    ChannelState& state = m_states[channel];
    if (applyPlainController(state, number, value)) {
        return;
    }
    std::uint16_t& parameter = m_parameter[channel];
    switch (number) {
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
