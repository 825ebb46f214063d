#pragma once

#include <cstdint>
#include <span>

namespace zentrowe::song {

// Where a track's events lie in its file: the offset of the first byte after the "MTrk" chunk
// header, and the chunk's length field.
struct TrackLocation {
    std::uint64_t dataStart = 0;
    std::uint32_t dataLength = 0;
};

// A channel voice event with its data bytes as read (a malformed file may put bytes of 0x80 and
// above there; they are passed on as they are). data2 is 0 for one-byte events.
struct ChannelEvent {
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;

    std::uint8_t kind() const { return static_cast<std::uint8_t>(status & 0xF0); }
    std::uint8_t channel() const { return static_cast<std::uint8_t>(status & 0x0F); }
};

// A meta event. For the types whose length is a single byte (see hasLengthByte), lengthByte is
// that byte; data holds the bytes its description reads, which for those types is a fixed count
// that may differ from the declared length. For every other type, data is the declared data.
struct MetaEvent {
    std::uint8_t type = 0;
    std::uint8_t lengthByte = 0;
    std::uint32_t declaredLength = 0;
    std::span<const std::uint8_t> data;
};

// A system-exclusive event (0xF0) or escape (0xF7) with the length of its skipped data.
struct SysExEvent {
    std::uint8_t status = 0;
    std::uint32_t length = 0;
};

enum class WalkEnd {
    Complete,   // the track's length was used up
    Truncated,  // the file ended inside an event, which was dropped whole
    Cancelled,  // the progress sink asked to stop
};

}  // namespace zentrowe::song
