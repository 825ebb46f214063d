#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/song/track_events.h"

namespace zentrowe::song {

struct SongSummary;

// One event of a track as the track walk met it, in 16 bytes, so that a track of a million
// notes (two million events, their starts and ends) holds about 32 MB.
struct DecodedEvent {
    enum class Kind : std::uint8_t {
        Channel,  // status, data1, data2
        Meta,     // payload: its index in SongEvents::metas
        SysEx,    // status; payload: the length of its skipped data
        Passed,   // a status that carries nothing: no event for the visitor, but its delta counts
        Cut,      // the file ends inside it: the walk stops here, Truncated
    };

    std::uint32_t delta = 0;
    // Of the event's first byte (its delta) from the track's first byte: where the walk steps
    // its progress before reading it. A track's length is a 32-bit field, and every event the
    // walk starts begins inside it.
    std::uint32_t offset = 0;
    std::uint32_t payload = 0;
    Kind kind = Kind::Cut;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};
static_assert(sizeof(DecodedEvent) == 16);

// One track of a decoded song: its events, a run of SongEvents::events, and how its walk ended.
struct DecodedTrack {
    TrackLocation location;
    std::size_t first = 0;
    std::size_t count = 0;
    WalkEnd end = WalkEnd::Complete;
};

// The events of a song's tracks decoded once, for passes that would each walk the bytes again:
// walkTrack replays them to its visitor. A meta event's data stays a view into the file's bytes,
// so this value must not outlive them; drop it once those passes are done, as it holds every
// event of the song.
struct SongEvents {
    std::span<const std::uint8_t> file;  // the bytes decoded
    std::vector<DecodedTrack> tracks;    // by dataStart, ascending
    std::vector<DecodedEvent> events;
    std::vector<MetaEvent> metas;

    // The track whose events start at `where.dataStart`; nullptr when none was decoded there.
    const DecodedTrack* track(TrackLocation where) const;
    std::span<const DecodedEvent> eventsOf(const DecodedTrack& track) const
    {
        return std::span(events).subspan(track.first, track.count);
    }
};

// Walks each track `song` lists once, as walkTrack walks it, and keeps what every walk of it
// would meet. Damage is kept as found: a track the file ends inside keeps the events before the
// damage and replays as Truncated; a track starting past the file's end holds no event.
SongEvents decodeSong(std::span<const std::uint8_t> file, const SongSummary& song);

}  // namespace zentrowe::song
