#include "core/keysound/keysound_instruments.h"

#include <array>
#include <map>
#include <optional>
#include <utility>

#include "core/song/track_walk.h"

namespace zentrowe::keysound {

namespace {

constexpr int kDrumChannel = 9;
constexpr std::uint8_t kBankSelect = 0x00;  // controller 0: bank select, most significant part

// Follows program and bank per channel through a track and notes the instrument of the first
// Note On at each (tick, note) asked for.
struct InstrumentWalk {
    std::map<std::pair<std::int64_t, std::uint8_t>, std::optional<KeysoundInstrument>> wanted;
    std::array<std::uint8_t, 16> program{};
    std::array<int, 16> bank{};

    void onEvent(std::int64_t time, std::uint32_t, const song::ChannelEvent& event)
    {
        const auto channel = event.channel();
        if (event.kind() == 0xC0) {
            program[channel] = static_cast<std::uint8_t>(event.data1 & 0x7F);
        } else if (event.kind() == 0xB0 && event.data1 == kBankSelect) {
            bank[channel] = event.data2 & 0x7F;
        } else if (event.kind() == 0x90 && event.data2 != 0 && event.data1 < 0x80) {
            const auto found = wanted.find({time, event.data1});
            if (found != wanted.end() && !found->second) {
                found->second = KeysoundInstrument{bank[channel], program[channel], channel == kDrumChannel};
            }
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const song::MetaEvent&) {}
    void onEvent(std::int64_t, std::uint32_t, const song::SysExEvent&) {}
};

}  // namespace

std::vector<KeysoundInstrument> keysoundInstruments(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                                    int trackNumber, const convert::KeysoundTable& keysounds,
                                                    bool percussion)
{
    InstrumentWalk walk;
    for (const auto& entry : keysounds.entries()) {
        walk.wanted.emplace(std::make_pair(entry.startTime, entry.note), std::nullopt);
    }
    if (trackNumber >= 1 && static_cast<std::size_t>(trackNumber) <= song.tracks.size()) {
        NullProgress quiet;
        ProgressThrottle throttle(quiet, 0);
        song::walkTrack(file, song.tracks[static_cast<std::size_t>(trackNumber) - 1].location, walk, throttle);
    }
    std::vector<KeysoundInstrument> instruments;
    instruments.reserve(keysounds.size());
    for (const auto& entry : keysounds.entries()) {
        KeysoundInstrument instrument = walk.wanted[{entry.startTime, entry.note}].value_or(KeysoundInstrument{});
        if (percussion && !instrument.drums) {
            // The drum kit, not the melodic program number, plays a percussion track's strikes.
            instrument = KeysoundInstrument{0, 0, true};
        }
        instruments.push_back(instrument);
    }
    return instruments;
}

}  // namespace zentrowe::keysound
