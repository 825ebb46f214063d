#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/song/track_walk.h"

namespace zentrowe::song {

// "C4" for 60, "C#4" for 61, "C-1" for 0, "G9" for 127.
std::string noteName(int note);

// Two upper-case hexadecimal digits: 10 gives "0A".
std::string hexByte(std::uint8_t value);

// Beats per minute for a tempo in microseconds per quarter note, as "000.00": at least three
// integer digits, exactly two decimals, 60000000 / tempo rounded to the nearest hundredth with
// ties to even on the exact value. A tempo of 0 (which no player can use) gives "000.00".
std::string formatBpm(std::uint32_t tempoMicros);

// As formatBpm, with as many more decimals (up to 9) as it takes for the text to read back as the
// tempo within a thousandth of a microsecond per quarter note: 461538 is "130.00013", where
// "130.00" would put the thousandth beat 0.46 ms late.
std::string formatExactBpm(std::uint32_t tempoMicros);

// The description the event listing shows for a meta event ("Tempo  120.00 BPM  500000").
// Reads only event.data, which the walk has checked is complete.
std::string describeMetaEvent(const MetaEvent& event);

// The three bytes of a Set Tempo event as microseconds per quarter note.
std::uint32_t tempoOf(const MetaEvent& event);

// Label and description of a listed channel or system-exclusive event ("Note on",
// "Cannel=0 Num=60 C4 Vol=100"). Appends to `description`, which the caller may reuse.
std::string_view channelEventLabel(const ChannelEvent& event);
void describeChannelEvent(const ChannelEvent& event, std::string& description);
void describeSysExEvent(const SysExEvent& event, std::string& description);
inline constexpr std::string_view kSystemEventLabel = "FF";

}  // namespace zentrowe::song
