#include "core/song/song_events.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "core/base/progress.h"
#include "core/song/song_summary.h"
#include "core/song/track_walk.h"

namespace zentrowe::song {

namespace {

// Keeps one track's walk: the walk steps its progress (every unit, see decodeTrack) before it
// reads each event, which opens the event's record as cut short; the visitor call that follows
// fills it in, and an event the file ends inside stays cut.
class EventRecorder final : public ProgressSink {
public:
    explicit EventRecorder(SongEvents& song) : m_song(song) { }

    void advance(std::int64_t done, std::int64_t) override
    {
        assert(done >= 0 && done <= std::numeric_limits<std::uint32_t>::max());
        m_song.events.push_back({0, static_cast<std::uint32_t>(done), 0, DecodedEvent::Kind::Cut, 0, 0, 0});
    }

    void onEvent(std::int64_t, std::uint32_t delta, const ChannelEvent& event)
    {
        DecodedEvent& last = opened(delta, DecodedEvent::Kind::Channel);
        last.status = event.status;
        last.data1 = event.data1;
        last.data2 = event.data2;
    }
    void onEvent(std::int64_t, std::uint32_t delta, const MetaEvent& event)
    {
        assert(m_song.metas.size() < std::numeric_limits<std::uint32_t>::max());
        opened(delta, DecodedEvent::Kind::Meta).payload = static_cast<std::uint32_t>(m_song.metas.size());
        m_song.metas.push_back(event);
    }
    void onEvent(std::int64_t, std::uint32_t delta, const SysExEvent& event)
    {
        DecodedEvent& last = opened(delta, DecodedEvent::Kind::SysEx);
        last.status = event.status;
        last.payload = event.length;
    }
    void onPassed(std::int64_t, std::uint32_t delta) { opened(delta, DecodedEvent::Kind::Passed); }

private:
    DecodedEvent& opened(std::uint32_t delta, DecodedEvent::Kind kind)
    {
        assert(!m_song.events.empty() && m_song.events.back().kind == DecodedEvent::Kind::Cut);
        DecodedEvent& last = m_song.events.back();
        last.delta = delta;
        last.kind = kind;
        return last;
    }

    SongEvents& m_song;
};

DecodedTrack decodeTrack(std::span<const std::uint8_t> file, TrackLocation where, SongEvents& song)
{
    DecodedTrack track{where, song.events.size(), 0, WalkEnd::Complete};
    EventRecorder recorder(song);
    // A step for every byte offset: the walk never steps twice at one, as each event takes one.
    ProgressThrottle everyEvent(recorder, 0, 1);
    track.end = walkTrack(file, where, recorder, everyEvent);
    track.count = song.events.size() - track.first;
    return track;
}

// Events the song holds at most when each takes two bytes or more (a delta, then a status or
// data byte), as every event does but one cut short by the file's end and data bytes met before
// any status, which no writer makes. Reserved up front, so that decoding a large song never holds
// its events twice while the vector grows; only such damage makes it grow.
std::size_t likelyEventCount(std::span<const std::uint8_t> file, const SongSummary& song)
{
    std::size_t count = 0;
    for (const auto& track : song.tracks) {
        const auto& where = track.location;
        if (where.dataStart <= file.size()) {
            const std::size_t held = std::min<std::size_t>(where.dataLength, file.size() - where.dataStart);
            count += held / 2 + 1;
        }
    }
    return count;
}

}  // namespace

const DecodedTrack* SongEvents::track(TrackLocation where) const
{
    const auto found =
        std::lower_bound(tracks.begin(), tracks.end(), where.dataStart,
                         [](const DecodedTrack& t, std::uint64_t start) { return t.location.dataStart < start; });
    return found != tracks.end() && found->location.dataStart == where.dataStart ? &*found : nullptr;
}

SongEvents decodeSong(std::span<const std::uint8_t> file, const SongSummary& song)
{
    SongEvents decoded;
    decoded.file = file;
    decoded.events.reserve(likelyEventCount(file, song));
    for (const auto& track : song.tracks) {
        decoded.tracks.push_back(decodeTrack(file, track.location, decoded));
    }
    std::stable_sort(decoded.tracks.begin(), decoded.tracks.end(), [](const DecodedTrack& a, const DecodedTrack& b) {
        return a.location.dataStart < b.location.dataStart;
    });
    return decoded;
}

}  // namespace zentrowe::song
