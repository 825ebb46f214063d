#pragma once

#include <cstdint>
#include <span>

#include "core/song/part_notes.h"
#include "core/song/song_summary.h"

namespace zentrowe::song {

// True when every sounding note of track `trackNumber` (1-based) plays on the General MIDI drum
// channel (channel 10, index 9): such a track is a drum part, which percussion mode keysounds as
// drum strikes. False for a track without notes or out of range.
bool allNotesOnDrumChannel(std::span<const std::uint8_t> file, const SongSummary& song, int trackNumber);
// The same for part `part` (0-based) of notes read beforehand, as a whole track; false for a
// part not read.
bool allNotesOnDrumChannel(const PartNotes& notes, std::size_t part);

}  // namespace zentrowe::song
