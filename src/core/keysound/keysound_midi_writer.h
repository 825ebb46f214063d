#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/base/result.h"
#include "core/convert/keysound_table.h"
#include "core/keysound/keysound_instruments.h"

namespace zentrowe::keysound {

// A MIDI variable-length quantity: seven bits a byte, most significant group first, bit 7 set on
// every byte but the last. No four-byte cap: 2^28 and more take five bytes.
std::vector<std::uint8_t> encodeVarLen(std::uint64_t value);

// The four bytes of a value, most significant first.
std::array<std::uint8_t, 4> encodeLongBytes(std::uint32_t value);

// The longest delta time a MIDI file holds: four bytes of seven bits.
inline constexpr std::uint64_t kLongestDeltaTicks = (std::uint64_t{1} << 28) - 1;

// A keysound's duration in ticks of the keysound MIDI file (96 per quarter note):
// durationTicks * 96 / ticksPerQuarter rounded to the nearest integer, ties to even, the duration
// held at convert::kLongestDurationTicks first.
std::uint64_t keysoundMidiDuration(std::int64_t durationTicks, std::int32_t ticksPerQuarter);

// "K-Midi.mid": a one-track file at 96 ticks per quarter note that plays every keysound once in
// table order, each after a gap of `gapTicks` silence, with one more gap before the end of track.
// The tempo event carries `tempoBytes`. Each keysound sounds with its instrument (instruments[k];
// program 0 for all when `instruments` is empty): melodic keysounds on channel index 0, drum
// keysounds on channel index 9, and where a keysound's instrument differs from the one before
// (and for the first), a bank select (controller 0) and a program change on its channel come at
// the start of its gap, so a synthesiser renders each keysound as the song plays it while every
// Note On stays where the gaps put it. A Note On carries its status byte after a channel's change;
// later events rely on running status (a note ends with a Note On of velocity 0). An empty table
// still writes one silent pair of events for note 0, which no reader counts as a keysound.
// NoteTooLong, naming the start tick of the keysound's first note, if a keysound would last more
// than kLongestDeltaTicks; `gapTicks` must be 0 to kLongestDeltaTicks; `instruments` is empty or
// one per keysound.
Result<std::vector<std::uint8_t>> buildKeysoundMidi(const convert::KeysoundTable& keysounds,
                                                    std::span<const KeysoundInstrument> instruments,
                                                    std::int32_t ticksPerQuarter,
                                                    std::array<std::uint8_t, 3> tempoBytes, std::int32_t gapTicks);

}  // namespace zentrowe::keysound
