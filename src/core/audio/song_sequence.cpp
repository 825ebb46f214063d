#include "core/audio/song_sequence.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <utility>

#include "core/keysound/keysound_instruments.h"
#include "core/song/track_walk.h"

namespace zentrowe::audio {

namespace {

bool isVoiceEvent(std::uint8_t status)
{
    return status >= 0x80 && status < 0xF0;
}

bool isNote(const song::ChannelEvent& event)
{
    return event.kind() == 0x80 || event.kind() == 0x90 || event.kind() == 0xA0;
}

struct TrackEvents {
    std::vector<std::pair<std::int64_t, song::ChannelEvent>> events;

    void onEvent(std::int64_t time, std::uint32_t, const song::ChannelEvent& event)
    {
        if (isVoiceEvent(event.status) && !(isNote(event) && event.data1 >= 0x80)) {
            events.emplace_back(time, event);
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const song::MetaEvent&) {}
    void onEvent(std::int64_t, std::uint32_t, const song::SysExEvent&) {}
};

enum class Keeping { Everything, ControlsOnly, Nothing };

// The channel voice events of the tracks `keep` keeps (by 0-based index), merged and placed;
// of a track kept for its controls, what acts on the channels the other kept tracks play.
template <typename Keep>
std::vector<TimedEvent> sequenceWhere(std::span<const std::uint8_t> file, const song::SongSummary& song, Keep keep);

}  // namespace

TickClock::TickClock(const std::vector<song::TempoChange>& tempoMap, std::int32_t ticksPerQuarter)
    : m_ticksPerQuarter(ticksPerQuarter)
{
    m_segments.push_back({0, 0.0, song::kDefaultTempoMicros});
    for (const auto& change : tempoMap) {
        const auto& last = m_segments.back();
        const std::int64_t tick = std::max<std::int64_t>(change.time, last.tick);
        const double micros = last.micros + static_cast<double>(tick - last.tick) * last.tempoMicros / m_ticksPerQuarter;
        if (tick == last.tick) {
            m_segments.back().tempoMicros = change.tempoMicros;
        } else {
            m_segments.push_back({tick, micros, change.tempoMicros});
        }
    }
}

std::int64_t TickClock::frameOf(std::int64_t tick) const
{
    auto segment = std::upper_bound(m_segments.begin(), m_segments.end(), tick,
                                    [](std::int64_t value, const Segment& s) { return value < s.tick; });
    const Segment& in = *std::prev(segment);
    const double micros = in.micros + static_cast<double>(tick - in.tick) * in.tempoMicros / m_ticksPerQuarter;
    return std::llround(micros * kSampleRate / 1e6);
}

std::vector<TimedEvent> sequenceTracks(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                       int skippedTrackNumber)
{
    return sequenceWhere(file, song, [&](std::size_t index) {
        return static_cast<int>(index) + 1 != skippedTrackNumber ? Keeping::Everything : Keeping::ControlsOnly;
    });
}

std::vector<TimedEvent> sequenceTrack(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                      int trackNumber)
{
    return sequenceWhere(file, song, [&](std::size_t index) {
        return static_cast<int>(index) + 1 == trackNumber ? Keeping::Everything : Keeping::ControlsOnly;
    });
}

namespace {

template <typename Keep>
std::vector<TimedEvent> sequenceWhere(std::span<const std::uint8_t> file, const song::SongSummary& song, Keep keep)
{
    struct Placed {
        std::int64_t tick;
        std::size_t track;
        song::ChannelEvent event;
    };
    std::vector<Placed> placed;
    std::vector<Placed> controls;  // from tracks whose notes are left out
    std::array<bool, 16> sounding{};  // channels the kept tracks play notes on
    std::int64_t lastKept = -1;
    NullProgress quiet;
    for (std::size_t index = 0; index < song.tracks.size(); ++index) {
        const Keeping keeping = keep(index);
        if (keeping == Keeping::Nothing) {
            continue;
        }
        TrackEvents track;
        ProgressThrottle throttle(quiet, 0);
        song::walkTrack(file, song.tracks[index].location, track, throttle);
        for (const auto& [tick, event] : track.events) {
            if (keeping == Keeping::Everything) {
                placed.push_back({tick, index, event});
                sounding[event.status & 0x0F] = sounding[event.status & 0x0F] || event.kind() == 0x90;
                lastKept = std::max(lastKept, tick);
            } else if (!isNote(event)) {
                controls.push_back({tick, index, event});
            }
        }
    }
    // A controller, program or bend of a left-out track acts on every note of its channel, as it
    // does when the song plays whole; past the last kept event it would only lengthen the sound.
    for (const auto& control : controls) {
        if (sounding[control.event.status & 0x0F] && control.tick <= lastKept) {
            placed.push_back(control);
        }
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
    });

    const TickClock clock(song.tempoMap, std::max(song.ticksPerQuarter, 1));
    std::vector<TimedEvent> events;
    events.reserve(placed.size());
    for (const auto& p : placed) {
        events.push_back({clock.frameOf(p.tick), p.event.status, p.event.data1, p.event.data2});
    }
    return events;
}

}  // namespace

}  // namespace zentrowe::audio
