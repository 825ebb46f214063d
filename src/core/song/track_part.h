#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/song/song_source.h"
#include "core/song/song_summary.h"
#include "core/song/track_details.h"
#include "core/song/track_walk.h"

namespace zentrowe::song {

// What a chart draws its notes from: a track, or only the notes one MIDI channel plays in it (a
// format-0 song keeps every instrument in its one track, each on a channel of its own).
struct TrackPart {
    int trackNumber = 0;  // 1-based
    int channel = 0;      // 1 to 16, as musicians count; 0: every channel of the track

    // True if a note on channel index `channelIndex` (0 to 15, the status byte's nibble) is this part's.
    bool takes(std::uint8_t channelIndex) const { return channel == 0 || channelIndex + 1 == channel; }
    friend bool operator==(const TrackPart&, const TrackPart&) = default;
};

// The parts a request names, its first part first: the track and channel it charts, then the
// further parts its lanes draw on.
std::vector<TrackPart> requestedParts(int trackNumber, int channel, std::span<const TrackPart> moreParts);

// "track 4", or "track 1 channel 2".
std::string partName(const TrackPart& part);
// What a message calls several: "tracks 4 and 2", "tracks 4, 2 and 1:3"; one as partName.
std::string partsName(std::span<const TrackPart> parts);
// As typed: "4", "1:2".
std::string partText(const TrackPart& part);

// What --track takes: parts separated by commas ("4,2"), each a track number with an optional
// channel after a colon ("1:2"). TrackOutOfRange (as trackNumberFromDigits) for a track the song
// lacks; InvalidSetting (subject "track", value the part at fault) for text that is not of this
// form, a channel outside 1 to 16, or a part given twice or inside another one ("2,2", "1,1:3").
Result<std::vector<TrackPart>> parseTrackParts(const SongSummary& song, std::string_view text,
                                               const std::string& fileName);

// One channel of one track that plays notes, as `tracks --channels` lists it.
struct ChannelPartRow {
    TrackPart part;
    std::int64_t noteCount = 0;  // Note On events with a velocity
    std::string instrument;      // of the program in force at the channel's first note; drums on channel 10
    std::string family;          // that program's family, as SongSummary names a track's
    TrackDetails details;        // of the channel's notes
};

// Every (track, channel) with notes, tracks in file order, channels in order. Tracks cut short
// give the notes read before.
std::vector<ChannelPartRow> listChannelParts(SongSource file, const SongSummary& song);

namespace detail {

inline bool isNoteEvent(const ChannelEvent& event)
{
    return event.kind() == 0x80 || event.kind() == 0x90 || event.kind() == 0xA0;
}

// Passes a track's events on, less the notes of channels the part does not take: their
// controllers and programs still act on the channels the song shares.
template <typename Visitor>
struct PartEvents {
    Visitor& visitor;
    std::uint16_t channels;  // bit k: channel index k is taken
    bool notesOnly = false;  // a further part of a track already walked: its other events are in

    void onEvent(std::int64_t time, std::uint32_t delta, const ChannelEvent& event)
    {
        if (isNoteEvent(event) ? (unsigned{channels} >> event.channel() & 1u) != 0 : !notesOnly) {
            visitor.onEvent(time, delta, event);
        }
    }
    template <typename Event>
    void onEvent(std::int64_t time, std::uint32_t delta, const Event& event)
    {
        if (!notesOnly) {
            visitor.onEvent(time, delta, event);
        }
    }
};

// One event of several tracks, as collected for merging.
struct CollectedEvent {
    std::int64_t time = 0;
    std::size_t part = 0;
    std::uint32_t delta = 0;
    std::variant<ChannelEvent, MetaEvent, SysExEvent> event;
};

struct EventCollector {
    std::vector<CollectedEvent>& events;
    std::size_t part;

    template <typename Event>
    void onEvent(std::int64_t time, std::uint32_t delta, const Event& event)
    {
        events.push_back({time, part, delta, event});
    }
};

std::uint16_t channelMask(const TrackPart& part);

}  // namespace detail

// Walks the parts' events as one track: each part's track with the notes of other channels left
// out, several tracks merged in time order (the parts' order at one tick), so that the visitor
// meets the notes of every part as a player hears them. The part being walked is given to
// `onPart` (its index in `parts`) before each of its events. Parts must name tracks of `song`;
// two parts of one track share its events other than notes. Progress counts the tracks' bytes as read; the end is the
// first part's (Truncated if any track is cut short, Cancelled if asked to stop). From the song's
// decoded events each track is replayed as walkTrack replays it, to the same calls.
template <typename Visitor, typename OnPart>
WalkEnd walkParts(SongSource file, const SongSummary& song, std::span<const TrackPart> parts, Visitor& visitor,
                  ProgressThrottle& progress, OnPart onPart)
{
    if (parts.size() == 1) {
        onPart(std::size_t{0});
        detail::PartEvents<Visitor> filtered{visitor, detail::channelMask(parts.front())};
        return walkTrack(file, song.tracks[static_cast<std::size_t>(parts.front().trackNumber - 1)].location, filtered,
                         progress);
    }
    std::vector<detail::CollectedEvent> events;
    WalkEnd end = WalkEnd::Complete;
    std::int64_t base = 0;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const auto& where = song.tracks[static_cast<std::size_t>(parts[k].trackNumber - 1)].location;
        detail::EventCollector collector{events, k};
        const bool trackWalked = std::any_of(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(k),
                                             [&](const TrackPart& p) { return p.trackNumber == parts[k].trackNumber; });
        detail::PartEvents<detail::EventCollector> filtered{collector, detail::channelMask(parts[k]), trackWalked};
        progress.setBase(base);
        const WalkEnd walked = walkTrack(file, where, filtered, progress);
        if (walked == WalkEnd::Cancelled) {
            return walked;
        }
        end = walked == WalkEnd::Truncated ? walked : end;
        base += where.dataLength;
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const auto& a, const auto& b) { return a.time != b.time ? a.time < b.time : a.part < b.part; });
    for (const auto& collected : events) {
        onPart(collected.part);
        std::visit([&](const auto& event) { visitor.onEvent(collected.time, collected.delta, event); },
                   collected.event);
    }
    return end;
}

template <typename Visitor>
WalkEnd walkParts(SongSource file, const SongSummary& song, std::span<const TrackPart> parts, Visitor& visitor,
                  ProgressThrottle& progress)
{
    return walkParts(file, song, parts, visitor, progress, [](std::size_t) {});
}

// The bytes the parts' tracks hold together: what walkParts counts its progress in.
std::int64_t partsLength(const SongSummary& song, std::span<const TrackPart> parts);

}  // namespace zentrowe::song
