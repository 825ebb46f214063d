#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/convert/keysound_table.h"
#include "core/song/channel_state.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"

namespace zentrowe::keysound {

// What plays a keysound: a General MIDI program, the bank a bank select (controller 0) chose,
// or the drum kit of channel 10 (bank 0 there, as a synthesiser ignores bank select on it).
using KeysoundInstrument = song::ChannelInstrument;

// The instrument of each keysound of a conversion of track `trackNumber` (1-based): the program
// and bank in force on the channel of the keysound's first note when it started; the drum kit
// for notes on channel index 9 and for every keysound when `percussion`. A keysound whose first
// note is not found (the table came from another track, or the track number is out of range)
// gets program 0.
std::vector<KeysoundInstrument> keysoundInstruments(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                                    int trackNumber, const convert::KeysoundTable& keysounds,
                                                    bool percussion);
// The same for a conversion of several parts walked together (song::walkParts).
std::vector<KeysoundInstrument> keysoundInstruments(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                                    std::span<const song::TrackPart> parts,
                                                    const convert::KeysoundTable& keysounds, bool percussion);

}  // namespace zentrowe::keysound
