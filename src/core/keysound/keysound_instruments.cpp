#include "core/keysound/keysound_instruments.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "core/song/track_part.h"
#include "core/song/track_walk.h"

namespace zentrowe::keysound {

namespace {

// Follows program and bank per channel through a track and notes the instrument of the first
// Note On at each (tick, note) asked for. The ticks of a track only grow, so the notes asked for,
// in tick order, are passed once; once every one is found the rest of the track can tell nothing.
struct InstrumentWalk {
    struct Wanted {
        std::int64_t time = 0;
        std::uint8_t note = 0;
        std::optional<KeysoundInstrument> instrument;
    };
    std::vector<Wanted> wanted;  // by tick, then note
    std::size_t next = 0;        // the first asked for at the walk's tick or later
    std::size_t missing = 0;
    song::ChannelStates channels;

    void onEvent(std::int64_t time, std::uint32_t, const song::ChannelEvent& event)
    {
        const auto channel = event.channel();
        if (event.kind() != 0x90 || event.data2 == 0 || event.data1 >= 0x80) {
            channels.apply(event);
            return;
        }
        while (next < wanted.size() && wanted[next].time < time) {
            ++next;
        }
        for (std::size_t k = next; k < wanted.size() && wanted[k].time == time; ++k) {
            if (wanted[k].note == event.data1 && !wanted[k].instrument) {
                wanted[k].instrument = channels.instrument(channel);
                --missing;
            }
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const song::MetaEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const song::SysExEvent&) { }

    const Wanted* find(std::int64_t time, std::uint8_t note) const
    {
        const auto at = std::lower_bound(wanted.begin(), wanted.end(), std::make_pair(time, note),
                                         [](const Wanted& w, const std::pair<std::int64_t, std::uint8_t>& key) {
                                             return std::make_pair(w.time, w.note) < key;
                                         });
        return at != wanted.end() && at->time == time && at->note == note ? &*at : nullptr;
    }
};

// Stops the walk once every note asked for is found.
class UntilFound final : public ProgressSink {
public:
    explicit UntilFound(const InstrumentWalk& walk) : m_walk(walk) { }
    void advance(std::int64_t, std::int64_t) override { }
    bool stopRequested() const override { return m_walk.missing == 0; }

private:
    const InstrumentWalk& m_walk;
};

}  // namespace

std::vector<KeysoundInstrument> keysoundInstruments(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                                    int trackNumber, const convert::KeysoundTable& keysounds,
                                                    bool percussion)
{
    const song::TrackPart whole{trackNumber, 0};
    return keysoundInstruments(file, song, std::span<const song::TrackPart>(&whole, 1), keysounds, percussion);
}

std::vector<KeysoundInstrument> keysoundInstruments(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                                    std::span<const song::TrackPart> parts,
                                                    const convert::KeysoundTable& keysounds, bool percussion)
{
    InstrumentWalk walk;
    for (const auto& entry : keysounds.entries()) {
        walk.wanted.push_back({entry.startTime, entry.note, std::nullopt});
    }
    std::sort(walk.wanted.begin(), walk.wanted.end(), [](const auto& a, const auto& b) {
        return std::make_pair(a.time, a.note) < std::make_pair(b.time, b.note);
    });
    walk.missing = walk.wanted.size();
    const auto inSong = [&](const song::TrackPart& part) {
        return part.trackNumber >= 1 && static_cast<std::size_t>(part.trackNumber) <= song.tracks.size();
    };
    if (!parts.empty() && std::all_of(parts.begin(), parts.end(), inSong)) {
        UntilFound untilFound(walk);
        ProgressThrottle throttle(untilFound, 0);
        song::walkParts(file, song, parts, walk, throttle);
    }
    std::vector<KeysoundInstrument> instruments;
    instruments.reserve(keysounds.size());
    for (const auto& entry : keysounds.entries()) {
        const auto* found = walk.find(entry.startTime, entry.note);
        KeysoundInstrument instrument = found ? found->instrument.value_or(KeysoundInstrument{}) : KeysoundInstrument{};
        if (percussion && !instrument.drums) {
            // The drum kit, not the melodic program number, plays a percussion track's strikes.
            instrument = KeysoundInstrument{0, 0, true};
        }
        instruments.push_back(instrument);
    }
    return instruments;
}

}  // namespace zentrowe::keysound
