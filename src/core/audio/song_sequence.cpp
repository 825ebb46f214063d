#include "core/audio/song_sequence.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <utility>

#include "core/keysound/keysound_instruments.h"
#include "core/song/channel_controls.h"
#include "core/song/timeline.h"
#include "core/song/track_part.h"
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

// True for the events a sequence places: channel voice events but notes numbered 128 or above.
bool isSequenced(const song::ChannelEvent& event)
{
    return isVoiceEvent(event.status) && !(isNote(event) && event.data1 >= 0x80);
}

struct TrackEvents {
    std::vector<std::pair<std::int64_t, song::ChannelEvent>> events;
    std::uint16_t noteChannels = 0xFFFF;  // bit k: the notes of channel index k are kept

    void onEvent(std::int64_t time, std::uint32_t, const song::ChannelEvent& event)
    {
        if (isNote(event) && (unsigned{noteChannels} >> event.channel() & 1u) == 0) {
            return;
        }
        if (isSequenced(event)) {
            events.emplace_back(time, event);
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const song::MetaEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const song::SysExEvent&) { }
};

struct LastSequenced {
    std::int64_t tick = -1;

    void onEvent(std::int64_t time, std::uint32_t, const song::ChannelEvent& event)
    {
        if (isSequenced(event)) {
            tick = time;
        }
    }
    void onEvent(std::int64_t, std::uint32_t, const song::MetaEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const song::SysExEvent&) { }
};

// The channel voice events of the tracks `kept` accepts (by 0-based index), merged and placed,
// with the controls the other tracks send on their channels (song::sharedControls). Of a kept
// track, the notes of the channels `noteChannels` gives it (a mask, bit k for channel index k).
std::vector<TimedEvent> sequenceWhere(song::SongSource file, const song::SongSummary& song,
                                      const std::function<bool(std::size_t)>& kept,
                                      const std::function<std::uint16_t(std::size_t)>& noteChannels);

// The channels whose notes the parts take of the track at 0-based `index` (a mask as above).
std::uint16_t partChannels(std::span<const song::TrackPart> parts, std::size_t index)
{
    std::uint16_t mask = 0;
    for (const auto& part : parts) {
        if (static_cast<std::size_t>(part.trackNumber) == index + 1) {
            mask = static_cast<std::uint16_t>(mask | song::detail::channelMask(part));
        }
    }
    return mask;
}

constexpr std::uint16_t kEveryChannel = 0xFFFF;

}  // namespace

std::vector<TimedEvent> sequenceTracks(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                       int skippedTrackNumber)
{
    return sequenceWhere(
        file, song, [&](std::size_t index) { return static_cast<int>(index) + 1 != skippedTrackNumber; },
        [](std::size_t) { return kEveryChannel; });
}

std::vector<TimedEvent> sequenceOtherParts(song::SongSource file, const song::SongSummary& song,
                                           std::span<const song::TrackPart> skipped)
{
    return sequenceWhere(
        file, song, [&](std::size_t index) { return partChannels(skipped, index) != kEveryChannel; },
        [&](std::size_t index) { return static_cast<std::uint16_t>(~partChannels(skipped, index)); });
}

std::vector<TimedEvent> sequenceParts(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                      std::span<const song::TrackPart> parts)
{
    return sequenceWhere(
        file, song, [&](std::size_t index) { return partChannels(parts, index) != 0; },
        [&](std::size_t index) { return partChannels(parts, index); });
}

std::vector<std::int64_t> lastSequencedTicks(song::SongSource file, const song::SongSummary& song)
{
    std::vector<std::int64_t> ticks;
    ticks.reserve(song.tracks.size());
    NullProgress quiet;
    for (const auto& track : song.tracks) {
        LastSequenced last;
        ProgressThrottle throttle(quiet, 0);
        song::walkTrack(file, track.location, last, throttle);
        ticks.push_back(last.tick);
    }
    return ticks;
}

namespace {

std::vector<TimedEvent> sequenceWhere(song::SongSource file, const song::SongSummary& song,
                                      const std::function<bool(std::size_t)>& kept,
                                      const std::function<std::uint16_t(std::size_t)>& noteChannels)
{
    using Placed = song::PlacedControl;  // any channel event, placed
    std::vector<Placed> placed;
    song::TrackReach reach;
    NullProgress quiet;
    for (std::size_t index = 0; index < song.tracks.size(); ++index) {
        if (!kept(index)) {
            continue;
        }
        TrackEvents track;
        track.noteChannels = noteChannels(index);
        ProgressThrottle throttle(quiet, 0);
        song::walkTrack(file, song.tracks[index].location, track, throttle);
        for (const auto& [tick, event] : track.events) {
            placed.push_back({tick, index, event});
            reach.channels[event.channel()] = reach.channels[event.channel()] || event.kind() == 0x90;
            reach.lastTick = std::max(reach.lastTick, tick);
        }
    }
    const auto controls = song::sharedControls(
        file, song, [&](std::size_t index) { return !kept(index); }, reach);
    placed.insert(placed.end(), controls.begin(), controls.end());
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
    });

    const song::Timeline timeline(song);
    std::vector<TimedEvent> events;
    events.reserve(placed.size());
    for (const auto& p : placed) {
        events.push_back({timeline.frame(p.tick, kSampleRate), p.event.status, p.event.data1, p.event.data2});
    }
    return events;
}

}  // namespace

}  // namespace zentrowe::audio
