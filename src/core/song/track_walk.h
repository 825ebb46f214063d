#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "core/base/byte_reader.h"
#include "core/base/progress.h"
#include "core/song/song_source.h"
#include "core/song/track_events.h"

namespace zentrowe::song {

// Meta types whose length is one byte rather than a variable-length quantity: the types of
// fixed size in the standard, as tools in the wild write them.
constexpr bool hasLengthByte(std::uint8_t type)
{
    switch (type) {
    case 0x00:
    case 0x20:
    case 0x21:
    case 0x2F:
    case 0x51:
    case 0x54:
    case 0x58:
    case 0x59:
        return true;
    default:
        return false;
    }
}

// How many data bytes the description of a one-byte-length meta event reads: the standard
// count for the types of fixed size whatever the length byte says, the declared count for the
// others.
constexpr std::uint32_t describedByteCount(std::uint8_t type, std::uint8_t lengthByte)
{
    switch (type) {
    case 0x00:
        return lengthByte == 0 ? 0 : 2;
    case 0x20:
    case 0x21:
        return 1;
    case 0x2F:
        return 0;
    case 0x51:
        return 3;
    case 0x58:
        return 4;
    default:
        return lengthByte;
    }
}

namespace detail {

// The data bytes of a channel voice event whose status was just read: one for program change
// and channel pressure, two for the others. Nothing when the file ends first.
inline std::optional<ChannelEvent> readChannelEvent(ByteReader& reader, std::uint8_t status)
{
    ChannelEvent event{status, 0, 0};
    const std::uint8_t kind = event.kind();
    if (kind == 0xC0 || kind == 0xD0) {
        const auto data1 = reader.u8();
        if (!data1) {
            return std::nullopt;
        }
        event.data1 = *data1;
        return event;
    }
    const auto data = reader.take(2);
    if (!data) {
        return std::nullopt;
    }
    event.data1 = (*data)[0];
    event.data2 = (*data)[1];
    return event;
}

// A system-exclusive event's length and its skipped data. Nothing when the file ends first.
inline std::optional<SysExEvent> readSysExEvent(ByteReader& reader, std::uint8_t status)
{
    const auto length = reader.varLen();
    if (!length || !reader.skip(*length)) {
        return std::nullopt;
    }
    return SysExEvent{status, *length};
}

// A meta event after its 0xFF: type, length (one byte or a variable-length quantity, see
// hasLengthByte) and data; the reader resumes right after the declared data. Nothing when the
// file ends before the declared or the described data does.
inline std::optional<MetaEvent> readMetaEvent(ByteReader& reader)
{
    MetaEvent event;
    const auto type = reader.u8();
    if (!type) {
        return std::nullopt;
    }
    event.type = *type;
    std::uint32_t described = 0;
    if (hasLengthByte(event.type)) {
        const auto lengthByte = reader.u8();
        if (!lengthByte) {
            return std::nullopt;
        }
        event.lengthByte = *lengthByte;
        event.declaredLength = *lengthByte;
        described = describedByteCount(event.type, *lengthByte);
    } else {
        const auto length = reader.varLen();
        if (!length) {
            return std::nullopt;
        }
        event.declaredLength = *length;
        described = *length;
    }
    if (std::max(described, event.declaredLength) > reader.remaining()) {
        return std::nullopt;
    }
    event.data = reader.bytes().subspan(reader.pos(), described);
    reader.skip(event.declaredLength);
    return event;
}

// A visitor that keeps every event, as decodeSong does, also meets those that carry nothing:
// their deltas still move the time on.
template <typename Visitor>
void passOver(std::int64_t time, std::uint32_t delta, Visitor& visitor)
{
    if constexpr (requires { visitor.onPassed(time, delta); }) {
        visitor.onPassed(time, delta);
    }
}

// Replays the events decodeSong kept of the track at `where` as the byte walk meets them.
template <typename Visitor>
WalkEnd replayTrack(const SongEvents& song, TrackLocation where, Visitor& visitor, ProgressThrottle& progress)
{
    const DecodedTrack* track = song.track(where);
    if (track == nullptr) {
        return where.dataLength == 0 ? WalkEnd::Complete : WalkEnd::Truncated;
    }
    std::int64_t time = 0;
    for (const DecodedEvent& event : song.eventsOf(*track)) {
        if (!progress.step(std::int64_t{event.offset})) {
            return WalkEnd::Cancelled;
        }
        time += event.delta;
        switch (event.kind) {
        case DecodedEvent::Kind::Channel:
            visitor.onEvent(time, event.delta, ChannelEvent{event.status, event.data1, event.data2});
            break;
        case DecodedEvent::Kind::Meta:
            visitor.onEvent(time, event.delta, song.metas[event.payload]);
            break;
        case DecodedEvent::Kind::SysEx:
            visitor.onEvent(time, event.delta, SysExEvent{event.status, event.payload});
            break;
        case DecodedEvent::Kind::Passed:
            passOver(time, event.delta, visitor);
            break;
        case DecodedEvent::Kind::Cut:
            break;
        }
    }
    return track->end;
}

// Reads the event after its status byte and hands it to the visitor; false when the file ends
// inside it. Statuses that carry nothing (data bytes with no running status, system statuses
// other than 0xF0, 0xF7 and 0xFF) are passed over.
template <typename Visitor>
bool visitEvent(ByteReader& reader, std::uint8_t status, std::int64_t time, std::uint32_t delta, Visitor& visitor)
{
    if (status < 0x80) {
        passOver(time, delta, visitor);
        return true;
    }
    if (status < 0xF0) {
        const auto event = readChannelEvent(reader, status);
        if (event) {
            visitor.onEvent(time, delta, *event);
        }
        return event.has_value();
    }
    if (status == 0xF0 || status == 0xF7) {
        const auto event = readSysExEvent(reader, status);
        if (event) {
            visitor.onEvent(time, delta, *event);
        }
        return event.has_value();
    }
    if (status != 0xFF) {
        passOver(time, delta, visitor);
        return true;
    }
    const auto event = readMetaEvent(reader);
    if (event) {
        visitor.onEvent(time, delta, *event);
    }
    return event.has_value();
}

}  // namespace detail

// Steps through one track's events with the rules every pass shares, calling
//   visitor.onEvent(std::int64_t time, std::uint32_t delta, const ChannelEvent&)
//   visitor.onEvent(std::int64_t time, std::uint32_t delta, const MetaEvent&)
//   visitor.onEvent(std::int64_t time, std::uint32_t delta, const SysExEvent&)
// with the absolute time in ticks. The rules:
// - every event starts with a delta time;
// - a status byte (top bit set) below 0xF0 becomes the running status; a data byte in its place
//   reuses the running status; system and meta events (0xF0 to 0xFF) leave it alone;
// - a data byte with no running status yet, and the system statuses other than 0xF0, 0xF7 and
//   0xFF, carry nothing and are passed over;
// - after a meta event the walk resumes right after its declared data.
// The walk stops when the track's length is used up (an event may run past it into the next
// chunk, as some writers produce) or when the file ends; an event cut short by the file's end is
// not reported. Progress is stepped in bytes from the track's first byte. `source` is the whole file, so a track's
// length can never take the walk past it.
// From decoded events the walk replays what the byte walk of that track met: the same calls,
// progress steps and end. A track the decoded song does not hold (none starts at
// where.dataStart) is walked as one past the file's end: no event, Complete if its length is 0,
// else Truncated.
template <typename Visitor>
WalkEnd walkTrack(SongSource source, TrackLocation where, Visitor& visitor, ProgressThrottle& progress)
{
    if (source.events() != nullptr) {
        return detail::replayTrack(*source.events(), where, visitor, progress);
    }
    const std::span<const std::uint8_t> file = source.bytes();
    if (where.dataStart > file.size()) {
        return where.dataLength == 0 ? WalkEnd::Complete : WalkEnd::Truncated;
    }
    ByteReader reader(file.subspan(static_cast<std::size_t>(where.dataStart)));
    const std::uint64_t limit = where.dataLength;
    std::uint8_t runningStatus = 0;
    std::int64_t time = 0;

    while (reader.pos() < limit) {
        if (!progress.step(static_cast<std::int64_t>(reader.pos()))) {
            return WalkEnd::Cancelled;
        }
        const auto delta = reader.varLen();
        const auto first = reader.peek();
        if (!delta || !first) {
            return WalkEnd::Truncated;
        }
        std::uint8_t status = runningStatus;
        if (*first & 0x80) {
            status = *first;
            reader.skip(1);
            if (status < 0xF0) {
                runningStatus = status;
            }
        }
        time += *delta;
        if (!detail::visitEvent(reader, status, time, *delta, visitor)) {
            return WalkEnd::Truncated;
        }
    }
    return WalkEnd::Complete;
}

}  // namespace zentrowe::song
